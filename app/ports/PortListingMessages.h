#pragma once
// The port listing's messages (--list-ports).

namespace messages {

// --list-ports: on standard error when the system reports no serial port.
inline constexpr const char* kNoSerialPorts = "No serial ports found.\n";

}  // namespace messages
