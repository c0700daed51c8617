#pragma once
// The gang's messages (--gang).

namespace messages {

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
// After the tally, for each run that did not end on the interrupt.
inline constexpr const char* kGangKilledFormat =
    "The run for port %s had not ended %.0f s after the interrupt and was ended outright; its "
    "record may be missing.\n";

}  // namespace messages
