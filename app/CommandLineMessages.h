#pragma once
// The command line's messages: its rejections (FatalError formats),
// banners, usage and the echo of an accepted command line.

namespace messages {

// Rejections of a command line (FatalError formats).
inline constexpr const char* kUnknownSwitchFormat = "Unknown commandline switch: %s\n";
inline constexpr const char* kMissingArgumentFormat = "Missing argument to switch %s\n";
// A switch whose value is out of its range: the switch, then the value.
inline constexpr const char* kInvalidValueFormat = "Invalid value for switch %s: %s\n";
// Banners, usage and the echo of an accepted command line.
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

// The fixture's switches refused (app/fixture/Fixture.h).
inline constexpr const char* kInvalidValueWhyFormat = "Invalid value for switch %s: %s\n%s\n";
inline constexpr const char* kDownloadOnlyFormat =
    "Switch %s downloads only: it cannot be used with %s\n";
inline constexpr const char* kNeedsRepeatFormat =
    "Switch %s waits for board after board: it needs --repeat\n";

}  // namespace messages
