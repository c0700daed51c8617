// kelvor-sim: a simulated KELVOR boot loader on a pseudo-terminal, or on a
// USB CDC-ACM function of this machine's USB device controller (--usb-acm).
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "sim/AcmGadget.h"
#include "sim/Board.h"
#include "sim/SimOptions.h"

namespace {

sim::Board* runningBoard = nullptr;

void OnSignal(int) {
    if (runningBoard != nullptr) {
        runningBoard->RequestStop();
    }
}

// SIGUSR1 switches the board off, SIGUSR2 on again, as a power switch
// would: to rehearse board after board without hardware. Each signal is one
// request to the board, which counts them all in order (Board::RequestPower).
void OnPowerSignal(int signalNumber) {
    if (runningBoard != nullptr) {
        runningBoard->RequestPower(signalNumber == SIGUSR2);
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
    struct sigaction power {};
    power.sa_handler = OnPowerSignal;
    // Each waits while the other is handled: two pending at once would
    // otherwise have their handlers run in the reverse of their delivery
    // (the second's frame on top of the first's), switching the board on
    // before off. Pending together, they are delivered SIGUSR1 first: off,
    // then on.
    sigemptyset(&power.sa_mask);
    sigaddset(&power.sa_mask, SIGUSR1);
    sigaddset(&power.sa_mask, SIGUSR2);
    power.sa_flags = SA_RESTART;
    sigaction(SIGUSR1, &power, nullptr);
    sigaction(SIGUSR2, &power, nullptr);
}

int RunBoard(const sim::SimOptions& options) {
    sim::Board board(options.config);
    if (!options.linkPath.empty()) {
        if (!board.LinkAt(options.linkPath)) {
            std::perror(("kelvor-sim: cannot make the link " + options.linkPath).c_str());
            return sim::kExitUsage;
        }
    }
    if (options.startOff) {
        board.SetPowered(false);
    }
    // Signals are caught before the port is shown, so that whoever waits
    // for the port may signal at once.
    runningBoard = &board;
    CatchSignals();
    std::unique_ptr<sim::AcmGadget> gadget;
    std::string port = board.SlavePath();
    if (!options.gadget.controller.empty()) {
        // The gadget carries the pseudo-terminal's bytes over USB; the host's
        // port is the gadget's, named by its USB identity.
        gadget = std::make_unique<sim::AcmGadget>(board, options.gadget);
        gadget->Start();
        port = "usb:1d6b:0104";
    }
    std::printf("%s\n", port.c_str());
    std::fflush(stdout);
    board.Run();
    runningBoard = nullptr;
    if (gadget) {
        // Unbound before the program ends: the host sees the device go.
        gadget->Stop();
    }
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
