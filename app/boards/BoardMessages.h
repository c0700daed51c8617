#pragma once
// Board after board's messages (--repeat).

namespace messages {

// --repeat: after each board, and at the end of the run.
inline constexpr const char* kBoardTallyFormat =
    "Board %u: %s. Boards so far: %u complete, %u failed.\n";
inline constexpr const char* kBoardsInAllFormat = "Boards in all: %u complete, %u failed.\n";

}  // namespace messages
