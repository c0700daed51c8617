#pragma once
// The serial layer's messages. The port's errors travel as
// std::runtime_error carrying one of the kPort* texts.

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

// The port's output lines (DTR, RTS).
inline constexpr const char* kPortModemLinesFailed = "COMPort: failed to set DTR/RTS.";
inline constexpr const char* kPortCannotSetLines =
    "The port cannot set DTR/RTS: it has no modem lines, or its driver refuses to set them.";

}  // namespace messages
