#pragma once
// Every fixed message of the program, in one place.
//
// The port's errors travel as std::runtime_error carrying one of the kPort*
// texts; FatalError formats the k*Format texts.

namespace messages {

// Raised by COMPort.
inline constexpr const char* kPortOpenFailed = "COMPort: failed to open.";
inline constexpr const char* kPortGetStateFailed = "COMPort: could not retrieve serial port state.";
inline constexpr const char* kPortGetTimeoutsFailed = "COMPort: failed to retrieve timeouts.";
inline constexpr const char* kPortSetTimeoutsFailed = "COMPort: failed to modify timeouts.";
inline constexpr const char* kPortSetStateFailed = "COMPort: could not modify serial port state.";
inline constexpr const char* kPortLineCharacteristicsFailed =
    "COMPort: could not set line characteristics.";
inline constexpr const char* kPortCloseFailed = "COMPort: failed to close.";
inline constexpr const char* kPortReadFailed = "COMPort: read failed.";
inline constexpr const char* kPortWriteFailed = "COMPort: write failed.";
inline constexpr const char* kPortPropertiesFailed = "COMPort: failed to retrieve port properties.";
inline constexpr const char* kPortModemSignalsFailed = "COMPort: failed to retrieve modem signals.";

// The detail line of a refused setting: "The port refused 76800 baud: the
// port's clock makes it run at 57600 baud (-25.0 %)."
inline constexpr const char* kRefusedSettingPrefix = "The port refused ";

// Formats for FatalError.
inline constexpr const char* kUnknownSwitchFormat = "Unknown commandline switch: %s\n";
inline constexpr const char* kMissingArgumentFormat = "Missing argument to switch %s\n";
inline constexpr const char* kCannotOpenUploadFormat = "Can't open file %s for upload\n";
inline constexpr const char* kErrorOccurredFormat = "Error occurred: %s\n";
// The same with the port's detail line after it.
inline constexpr const char* kErrorOccurredWithDetailFormat = "Error occurred: %s\n%s\n";
// Raw copy: the data file could not be read to its end.
inline constexpr const char* kFileReadFailedFormat = "Error reading file %s\n";

// Console mode.
inline constexpr const char* kEstablishedCommunicationFormat = "Established communication: %s\n";
inline constexpr const char* kEnteringConsoleMode = "Entering Console mode...\n";

// Command line: banners, usage and the echo of an accepted command line.
inline constexpr const char* kTitleLine =
    "Vantoir - Download utility to program Kandermoor KELVOR DSP board\n";
// With the version (errors/Version.h).
inline constexpr const char* kVersionNoticeFormat =
    "Version %s. Provided as is, without warranty of any kind.\n";
inline constexpr const char* kNoticeLine = "Provided as is, without warranty of any kind.\n";
inline constexpr const char* kContactLine = "Questions and bug reports: the Vantoir maintainers.\n";
inline constexpr const char* kUsageFormat =
    "Usage: %s [-P <port>] [-B <baudrate>] [-F <datafile>] [-D] [-L] [-C] [-R] [-W]\n";
inline constexpr const char* kUsagePortFormat =
    "[-P] specifies which serial port to use. Default: %s\n";
inline constexpr const char* kUsageBaudFormat = "[-B] specifies the baudrate. Default: %d\n";
inline constexpr const char* kUsageSwitchLines =
    "[-F] specifies the datafile to be downloaded\n"
    "[-D] enables debugging info\n"
    "[-L] to perform only a download (i.e. no 'start'-command is sent)\n"
    "[-C] to enter Console mode. Causes -F and -L switches to be ignored.\n"
    "[-R] copies the input file raw (i.e., in binary mode) to the serial port.\n"
    "[-W] Sends a Write command after programming is done\n"
    "\nExample: Vantoir -P COM3 -F Intel.hex\n";
// --version, with the version.
inline constexpr const char* kVersionLineFormat = "Vantoir %s\n";
inline constexpr const char* kParsedCommandLine = "Parsed command line:";
inline constexpr const char* kEchoArgumentFormat = " %s";

// Command exchange: the debug echo, and the board's "-" lines without "-".
inline constexpr const char* kSentFormat = "Sent: %s\n";
inline constexpr const char* kReceivedFormat = "Received: %s\n";
inline constexpr const char* kBoardMessageFormat = "%s\n";

// --list-ports: on standard error when the system reports no serial port.
inline constexpr const char* kNoSerialPorts = "No serial ports found.\n";

// Download session.
inline constexpr const char* kPowerCyclePrompt =
    "\nPlease cycle the power (i.e., switch off, wait approx. 5 seconds, and switch\n"
    "back on) on the Kelvor receiver now. Communication will then be etablished.\n\n";
inline constexpr const char* kStartUploading = "Start uploading file...\n";
// Followed by nothing while uploading, by a line feed at the end of the file.
inline constexpr const char* kProgressFormat = "\r%d lines uploaded (%d%%)";
inline constexpr const char* kNoValidLines =
    "Error: Refusing to continue process with 0 valid lines found in file\n";
inline constexpr const char* kCountMismatchFormat =
    "Mismatch: uploaded %d lines; DSP reported %d lines received\n";
inline constexpr const char* kFileUploadedOk = "File uploaded OK\n";
inline constexpr const char* kProgrammingFlash = "Programming flash memory...\n";
inline constexpr const char* kFlashNotAcknowledged =
    "Error: Flash Write command was not acknowledged\n";
inline constexpr const char* kStartCommandSent = "Start command sent to DSP\n";

// A gang of ports (--gang). The rejections, as FatalError formats: the switch
// as typed, then its value and why it is refused, or the switch it clashes
// with.
inline constexpr const char* kGangInvalidListFormat = "Invalid value for switch %s: %s\n%s\n";
inline constexpr const char* kGangEmptyList = "The list of ports is empty.";
inline constexpr const char* kGangEmptyEntry = "An entry of the list is empty.";
inline constexpr const char* kGangPortTwiceFormat = "The port %s is named twice.";
inline constexpr const char* kGangDownloadOnlyFormat =
    "Switch %s downloads only: it cannot be used with %s\n";
inline constexpr const char* kGangNamesThePortsFormat =
    "Switch %s names the ports: it cannot be used with %s\n";
// A run of the gang that could not be started.
inline constexpr const char* kGangCannotStartFormat = "Can't start the run for port %s\n";
// The summary at the end: a heading, one row per port, a tally.
inline constexpr const char* kGangSummaryHeading = "Gang summary:\n";
inline constexpr const char* kGangTallyFormat = "%d of %d ports complete.\n";

}  // namespace messages
