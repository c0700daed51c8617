#pragma once
// The program flow's handler: the report of a failed run.

namespace messages {

// The port's error message (a FatalError format).
inline constexpr const char* kErrorOccurredFormat = "Error occurred: %s\n";
// The same with the port's detail line after it.
inline constexpr const char* kErrorOccurredWithDetailFormat = "Error occurred: %s\n%s\n";

}  // namespace messages
