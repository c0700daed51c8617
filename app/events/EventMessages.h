#pragma once
// The event stream's messages (app/events/EventStream.h).

namespace messages {

inline constexpr const char* kCannotOpenEventsFormat = "Can't open events file %s\n";
// Said once, at the first write that fails; the run goes on.
inline constexpr const char* kCannotWriteEventsFormat = "Can't write events file %s\n";
// --events - with a switch that is for a person at a terminal.
inline constexpr const char* kEventsToOutputWithFormat =
    "Switch --events - fills standard output with events: it cannot be used with %s\n";

}  // namespace messages
