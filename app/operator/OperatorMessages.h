#pragma once
// The operator's messages: the questions for a board's label, their
// refusals, and the words of the operator's screen (app/operator/).

namespace messages {

// The question for a board's label: on standard output (standard error with
// --events -), the answer typed after it.
inline constexpr const char* kLabelQuestion = "Label of the board: ";
inline constexpr const char* kLabelQuestionNumberFormat = "Label of board %u: ";
inline constexpr const char* kLabelQuestionPortFormat = "Label of the board on %s: ";
// A label that --label-pattern does not match: asked again, or (--label) the
// command line refused.
inline constexpr const char* kLabelRefusedFormat =
    "Label \"%s\" does not match --label-pattern %s\n";
// A board whose label never came: the input ended first.
inline constexpr const char* kNoLabel =
    "No label: standard input ended before the board's label came\n";

// The command line refused.
inline constexpr const char* kLabelOfOneBoardFormat =
    "Switch --label gives the label of one board: it cannot be used with %s\n";
inline constexpr const char* kLabelGivenAndAskedFormat =
    "Switch --label gives the label: it cannot be used with %s\n";
inline constexpr const char* kGangAsksOnceFormat =
    "Switch %s asks a gang's labels once, before its ports start: it cannot be used with "
    "--gang and %s\n";
inline constexpr const char* kNeedsLabelFromFormat = "Switch %s needs --label-from\n";
inline constexpr const char* kNeedsLabelFormat =
    "Switch %s needs --label, --ask-label or --label-from\n";

// The operator's screen (app/operator/OperatorScreen.h).
inline constexpr const char* kScreenBoardFormat = "Board %u";
inline constexpr const char* kScreenLabelFormat = "Label %s";
inline constexpr const char* kScreenStampFormat = "Stamp %s";
inline constexpr const char* kScreenTallyFormat = "Boards so far: %u complete, %u failed.";
inline constexpr const char* kScreenGangBoardsFormat = "Boards: %u complete, %u failed.";

}  // namespace messages
