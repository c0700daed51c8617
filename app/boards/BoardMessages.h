#pragma once
// Board after board's messages (--repeat).

namespace messages {

// --repeat: after each board, and at the end of the run.
inline constexpr const char* kBoardTallyFormat =
    "Board %u: %s. Boards so far: %u complete, %u failed.\n";
inline constexpr const char* kBoardsInAllFormat = "Boards in all: %u complete, %u failed.\n";
// With a label (--ask-label, --label-from); with --stamp too.
inline constexpr const char* kBoardTallyLabelFormat =
    "Board %u (label %s): %s. Boards so far: %u complete, %u failed.\n";
inline constexpr const char* kBoardTallyStampLabelFormat =
    "Board %u (stamp %s, label %s): %s. Boards so far: %u complete, %u failed.\n";
// Said between boards, while the line is awaited quiet.
inline constexpr const char* kTakeBoardAwayFormat =
    "Take board %u away (or switch it off); the next board is awaited once the line is quiet.\n";

}  // namespace messages
