#pragma once
// The texts of the port layer about its output lines (DTR, RTS).

namespace messages {

inline constexpr const char* kPortModemLinesFailed = "COMPort: failed to set DTR/RTS.";
inline constexpr const char* kPortCannotSetLines =
    "The port cannot set DTR/RTS: it has no modem lines, or its driver refuses to set them.";

}  // namespace messages
