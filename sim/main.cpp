// kelvor-sim: a simulated KELVOR boot loader on a pseudo-terminal.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "sim/Board.h"
#include "sim/SimOptions.h"

namespace {

sim::Board* runningBoard = nullptr;

void OnSignal(int) {
    if (runningBoard != nullptr) {
        runningBoard->RequestStop();
    }
}

void CatchSignals() {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

int RunBoard(const sim::SimOptions& options) {
    sim::Board board(options.config);
    if (!options.linkPath.empty()) {
        if (!board.LinkAt(options.linkPath)) {
            std::perror(("kelvor-sim: cannot make the link " + options.linkPath).c_str());
            return sim::kExitUsage;
        }
    }
    std::printf("%s\n", board.SlavePath().c_str());
    std::fflush(stdout);
    runningBoard = &board;
    CatchSignals();
    board.Run();
    runningBoard = nullptr;
    if (!options.linkPath.empty()) {
        unlink(options.linkPath.c_str());
    }
    sim::BoardSummary summary = board.Summary();
    if (!options.quiet) {
        std::fprintf(stderr, "kelvor-sim: summary\n%s",
                     sim::LoaderProtocol::FormatSummary(summary).c_str());
    }
    return summary.downloadComplete ? sim::kExitDownloadComplete : sim::kExitDownloadIncomplete;
}

}  // namespace

int main(int argumentCount, char** arguments) {
    std::vector<std::string> args(arguments + 1, arguments + argumentCount);
    sim::SimOptions options = sim::ParseSimOptions(args);
    if (options.help) {
        std::fputs(sim::SimUsage().c_str(), stdout);
        return 0;
    }
    if (!options.error.empty()) {
        std::fprintf(stderr, "kelvor-sim: %s (see kelvor-sim --help)\n", options.error.c_str());
        return sim::kExitUsage;
    }
    try {
        return RunBoard(options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kelvor-sim: %s\n", error.what());
        return sim::kExitUsage;
    }
}
