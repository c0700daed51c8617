// --repeat and --boards: board after board.

#include "app/cli/SwitchTables.h"
#include "errors/FatalError.h"

namespace {

constexpr uint32_t kMaxBoards = 1000000;

constexpr const char* kNeedsDownloadFormat =
    "Switch %s needs download mode: it cannot be used with -C or -R\n";

void CheckBoardSwitches(Settings& settings, const GivenSwitches&) {
    if (settings.repeat && settings.checkOnly == 0 && settings.mode != ModeDownload) {
        FatalError(kNeedsDownloadFormat, settings.boards != 0 ? "--boards" : "--repeat");
    }
}

const SwitchRow kRows[] = {
    {"--repeat", nullptr, "downloads board after board until Ctrl-C",
     [](const SwitchUse&, Settings& s) { s.repeat = true; }, ForGangRun::PassOn,
     SwitchRules::OwnRules},
    {"--boards", "<n>", "ends a --repeat run after n boards",
     [](const SwitchUse& use, Settings& s) {
         s.boards = WholeNumberValue(use, 1, kMaxBoards);
         s.repeat = true;
     },
     ForGangRun::PassOn, SwitchRules::OwnRules},
};

}  // namespace

const SwitchTable kBoardSwitches = MakeSwitchTable(kRows, CheckBoardSwitches);
