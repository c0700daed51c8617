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

// Formats for FatalError.
inline constexpr const char* kUnknownSwitchFormat = "Unknown commandline switch: %s\n";
inline constexpr const char* kMissingArgumentFormat = "Missing argument to switch %s\n";
inline constexpr const char* kCannotOpenUploadFormat = "Can't open file %s for upload\n";
inline constexpr const char* kErrorOccurredFormat = "Error occurred: %s\n";
// Raw copy: the data file could not be read to its end.
inline constexpr const char* kFileReadFailedFormat = "Error reading file %s\n";

// Console mode.
inline constexpr const char* kEstablishedCommunicationFormat = "Established communication: %s\n";
inline constexpr const char* kEnteringConsoleMode = "Entering Console mode...\n";

}  // namespace messages
