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

// Detail lines of kPortOpenFailed for a port chosen by its USB identity
// (serial/PortSelector.h): the name as given, then for several matches their
// paths and a hint.
inline constexpr const char* kNoPortMatchesFormat = "No serial port matches %s.";
inline constexpr const char* kPortsMatchFormat = "%d serial ports match %s: %s (%s).";
inline constexpr const char* kAddSerialNumberHint = "add the serial number";
inline constexpr const char* kGivePathHint = "give the path of one of them instead";
inline constexpr const char* kNotUsbPortNameFormat =
    "Not a USB port name: %s (give usb:VID:PID or usb:VID:PID:SERIAL, VID and PID four hex "
    "digits each).";

// Formats for FatalError.
inline constexpr const char* kUnknownSwitchFormat = "Unknown commandline switch: %s\n";
inline constexpr const char* kMissingArgumentFormat = "Missing argument to switch %s\n";
inline constexpr const char* kCannotOpenUploadFormat = "Can't open file %s for upload\n";
inline constexpr const char* kErrorOccurredFormat = "Error occurred: %s\n";
// The same with the port's detail line after it.
inline constexpr const char* kErrorOccurredWithDetailFormat = "Error occurred: %s\n%s\n";
// A switch whose value is out of its range: the switch, then the value.
inline constexpr const char* kInvalidValueFormat = "Invalid value for switch %s: %s\n";
// --report: the record file cannot be opened for appending, or written.
inline constexpr const char* kCannotOpenReportFormat = "Can't open report file %s\n";
inline constexpr const char* kCannotWriteReportFormat = "Can't write report file %s\n";
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
// --repeat: after each board, and at the end of the run.
inline constexpr const char* kBoardTallyFormat =
    "Board %u: %s. Boards so far: %u complete, %u failed.\n";
inline constexpr const char* kBoardsInAllFormat = "Boards in all: %u complete, %u failed.\n";
// --timeout: a wait that went unanswered for the number of seconds given.
inline constexpr const char* kNoAnswerWithinFormat =
    "Error: No answer from the receiver within %u s\n";
inline constexpr const char* kRequestNotAcknowledgedWithinFormat =
    "Error: Request command was not acknowledged within %u s\n";
inline constexpr const char* kCountNotAcknowledgedWithinFormat =
    "Error: Count command was not acknowledged within %u s\n";

// The image check (--check, --check-only). Each finding goes to standard
// error as "FILE:LINE: message" ("FILE: message" for the file as a whole),
// the first kKeptImageFindings (text/ImageCheck.h) of them, then the count
// of the rest; then one summary line: "image refused" on standard error,
// "image OK" on standard output. Scripts grep these texts: keep them stable.
inline constexpr const char* kCheckNeedsDownload =
    "Switch --check needs download mode: it cannot be used with -C or -R\n";
inline constexpr const char* kImageFindingFormat = "%s:%lld: %s\n";
inline constexpr const char* kImageFileFindingFormat = "%s: %s\n";
inline constexpr const char* kImageMoreFindingsFormat = "... and %lld more %s\n";
inline constexpr const char* kImageRefusedFormat = "%s: image refused: %lld %s\n";
// FILE, records, data bytes, the ranges written, the start address, the
// digest.
inline constexpr const char* kImageOkFormat =
    "%s: image OK: %lld records, %lld data bytes at %s, %s, SHA-256 %s\n";
inline constexpr const char* kImageRangeFormat = "0x%08X-0x%08X";
inline constexpr const char* kImageMoreRangesFormat = " and %lld more ranges";
inline constexpr const char* kImageStartSegmentFormat = "start %04X:%04X (CS:IP)";
inline constexpr const char* kImageStartLinearFormat = "start 0x%08X (EIP)";
inline constexpr const char* kImageNoStartAddress = "no start address";
inline constexpr const char* kImageDigestUnknown = "unknown";
// The findings, on one record line.
inline constexpr const char* kNotHexDigitFormat = "character %s at column %d is not a hex digit";
inline constexpr const char* kOddDigitCountFormat = "odd number of hex digits (%d)";
inline constexpr const char* kRecordTooShortFormat =
    "record of %d bytes is too short (count, address, type and checksum take 5)";
inline constexpr const char* kByteCountMismatchFormat =
    "byte count %d does not match the %d data bytes";
inline constexpr const char* kChecksumWrongFormat = "checksum 0x%02X is wrong (0x%02X expected)";
inline constexpr const char* kUnknownRecordTypeFormat =
    "unknown record type %02X (00 to 05 expected)";
// The record's name, its type, its data bytes, the data bytes it needs.
inline constexpr const char* kAddressRecordLengthFormat =
    "%s record (type %02X) with %d data bytes (%d expected)";
inline constexpr const char* kExtendedSegmentAddressName = "extended segment address";
inline constexpr const char* kStartSegmentAddressName = "start segment address";
inline constexpr const char* kExtendedLinearAddressName = "extended linear address";
inline constexpr const char* kStartLinearAddressName = "start linear address";
inline constexpr const char* kAnotherEndOfFileFormat =
    "another end-of-file record (the first is on line %lld)";
inline constexpr const char* kRecordAfterEndOfFileFormat =
    "record after the end-of-file record of line %lld";
inline constexpr const char* kDataWrittenTwiceFormat =
    "data written twice: %lld bytes in 0x%08X-0x%08X";
inline constexpr const char* kRecordLineTooLongFormat =
    "record line of %lld characters: the download sends at most 9998 as one line";
inline constexpr const char* kByteOrderMarkLine =
    "the line begins with a byte-order mark, so the download skips it";
// The findings on the file as a whole.
inline constexpr const char* kNoRecordLine = "no record line (no line begins with ':')";
inline constexpr const char* kNoEndOfFileRecord = "no end-of-file record (type 01)";
inline constexpr const char* kNoDataRecord = "no data record: the image writes no byte";
inline constexpr const char* kImageReadFailed = "the file could not be read to its end";
inline constexpr const char* kLooksLikeHtml =
    "this is an HTML page (a saved web page?), not an Intel-HEX file";
inline constexpr const char* kLooksLikeElf =
    "this is an ELF file (a linked program), not an Intel-HEX file: convert it first";
inline constexpr const char* kLooksBinary = "this is a binary file, not an Intel-HEX text";

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
