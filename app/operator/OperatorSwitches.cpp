#include "app/operator/OperatorSwitches.h"

#include <regex>
#include <string>

#include "app/CommandLineMessages.h"
#include "app/cli/SwitchTables.h"
#include "app/operator/OperatorMessages.h"
#include "errors/FatalError.h"

namespace {

constexpr uint32_t kMaxLabelBaud = 4000000;

const char* CheckedPattern(const SwitchUse& use) {
    try {
        std::regex(use.value, std::regex::ECMAScript);
    } catch (const std::regex_error&) {
        FatalError(messages::kInvalidValueFormat, use.typed, use.value);
    }
    return use.value;
}

// Where each switch may be used; the label given is held to the pattern.
void CheckOperatorSwitches(Settings& settings, const GivenSwitches& given) {
    const char* asking = given.FirstOf({"--ask-label", "--label-from"});
    const char* label = given.Last("--label");
    const char* first = given.FirstOf(
        {"--label", "--ask-label", "--label-from", "--label-pattern", "--operator-screen"});
    if (first != nullptr && settings.mode != ModeDownload) {
        FatalError(messages::kDownloadOnlyFormat, first, given.LastOf({"-C", "-R"}));
    }
    if (const char* several = given.LastOf({"--repeat", "--boards", "--gang"}); label && several) {
        FatalError(messages::kLabelOfOneBoardFormat, several);
    }
    if (label != nullptr && asking != nullptr) {
        FatalError(messages::kLabelGivenAndAskedFormat, asking);
    }
    if (const char* boards = given.LastOf({"--repeat", "--boards"});
        asking != nullptr && settings.gang != nullptr && boards != nullptr) {
        FatalError(messages::kGangAsksOnceFormat, asking, boards);
    }
    if (const char* baud = given.Last("--label-baud"); baud && settings.labelFrom == nullptr) {
        FatalError(messages::kNeedsLabelFromFormat, baud);
    }
    if (const char* pattern = given.Last("--label-pattern");
        pattern != nullptr && label == nullptr && asking == nullptr) {
        FatalError(messages::kNeedsLabelFormat, pattern);
    }
    if (label != nullptr && settings.labelPattern != nullptr &&
        !std::regex_match(std::string(settings.label), std::regex(settings.labelPattern))) {
        FatalError(messages::kLabelRefusedFormat, settings.label, settings.labelPattern);
    }
}

const SwitchRow kRows[] = {
    {"--label", "<text>", "the board's label, in its record and its events (one board)",
     [](const SwitchUse& use, Settings& s) { s.label = NonBlankValue(use); }, ForGangRun::PassOn,
     SwitchRules::OwnRules},
    // The gang asks the labels itself, once, for all its runs.
    {"--ask-label", nullptr, "asks for each board's label on standard input before it",
     [](const SwitchUse&, Settings& s) { s.askLabel = true; }, ForGangRun::Drop,
     SwitchRules::OwnRules},
    {"--label-from", "<port>", "reads each board's label from a scanner on that serial port",
     [](const SwitchUse& use, Settings& s) { s.labelFrom = use.value; }, ForGangRun::Drop,
     SwitchRules::OwnRules},
    {"--label-baud", "<baudrate>", "the scanner's baud rate (default 9600)",
     [](const SwitchUse& use, Settings& s) {
         s.labelBaud = WholeNumberValue(use, 1, kMaxLabelBaud);
     },
     ForGangRun::Drop, SwitchRules::OwnRules},
    {"--label-pattern", "<regex>", "refuses a label that the pattern does not match whole",
     [](const SwitchUse& use, Settings& s) { s.labelPattern = CheckedPattern(use); },
     ForGangRun::Drop, SwitchRules::OwnRules},
    // The gang shows its ports' results itself.
    {"--operator-screen", nullptr, "on a terminal: PASS or FAIL across the screen after each board",
     [](const SwitchUse&, Settings& s) { s.operatorScreen = true; }, ForGangRun::Drop,
     SwitchRules::OwnRules},
    // Not for the user: given by a gang to each of its runs, with the label
    // it asked for the run's port.
    {"--gang-label", "<text>", nullptr,
     [](const SwitchUse& use, Settings& s) { s.label = use.value; }, ForGangRun::PassOn,
     SwitchRules::OwnRules},
};

}  // namespace

const SwitchTable kOperatorSwitches = MakeSwitchTable(kRows, CheckOperatorSwitches);

bool LabelsAsked(const Settings& settings) {
    return settings.askLabel || settings.labelFrom != nullptr;
}

bool LabelsInUse(const Settings& settings) {
    return settings.label != nullptr || LabelsAsked(settings);
}
