#pragma once
// The protocol's messages: the download session, console mode, raw copy
// and the command exchange.

namespace messages {

// The data file cannot be opened (a FatalError format).
inline constexpr const char* kCannotOpenUploadFormat = "Can't open file %s for upload\n";
// Raw copy: the data file could not be read to its end.
inline constexpr const char* kFileReadFailedFormat = "Error reading file %s\n";
// Console mode, and the download once the board has answered.
inline constexpr const char* kEstablishedCommunicationFormat = "Established communication: %s\n";
inline constexpr const char* kEnteringConsoleMode = "Entering Console mode...\n";
// A console that follows the download on the same port (--monitor).
inline constexpr const char* kEnteringConsoleAfterDownload =
    "Entering Console mode on the same port (Ctrl-C ends it)...\n";
// A console's port went away (the port's name as given) and is back (the
// name as given, the device opened), with --reconnect.
inline constexpr const char* kPortGoneFormat =
    "Port %s went away; waiting for it to come back (Ctrl-C ends the wait)...\n";
inline constexpr const char* kPortBackFormat = "Port %s is back as %s; Console mode goes on.\n";
// Command exchange: the debug echo, and the board's "-" lines without "-".
inline constexpr const char* kSentFormat = "Sent: %s\n";
inline constexpr const char* kReceivedFormat = "Received: %s\n";
inline constexpr const char* kBoardMessageFormat = "%s\n";
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
// --timeout: a wait that went unanswered for the number of seconds given.
inline constexpr const char* kNoAnswerWithinFormat =
    "Error: No answer from the receiver within %u s\n";
inline constexpr const char* kRequestNotAcknowledgedWithinFormat =
    "Error: Request command was not acknowledged within %u s\n";
inline constexpr const char* kCountNotAcknowledgedWithinFormat =
    "Error: Count command was not acknowledged within %u s\n";

}  // namespace messages
