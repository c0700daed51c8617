#include "app/Fixture.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "errors/FatalError.h"
#include "errors/Interrupted.h"
#include "process/ShellCommand.h"
#include "serial/Interrupt.h"

namespace {

constexpr const char* kInsteadFormat = "Starting the board by %s instead of a power cycle.\n";
constexpr const char* kByPowerCommand = "the power command";
constexpr const char* kBySequenceFormat = "the line sequence %s";
constexpr const char* kByBothFormat = "the power command, then the line sequence %s";
constexpr const char* kAwaitingStartFormat = "Waiting for the start signal (%s)...\n";
constexpr const char* kAwaitingStartEndFormat = "Waiting for the start signal to end (%s)...\n";
constexpr const char* kCommandStatusFormat = "Power command failed: exit status %d\n";
constexpr const char* kCommandSignalFormat = "Power command failed: ended by signal %d\n";
constexpr const char* kCommandTimedOutFormat =
    "Power command failed: still running after %u s, ended with all it started\n";
constexpr const char* kCommandNotStarted = "Power command failed: it could not be started\n";

const char* EndName(ShellCommandEnd::Kind kind) {
    switch (kind) {
        case ShellCommandEnd::Kind::Exited:
            return "exited";
        case ShellCommandEnd::Kind::Signalled:
            return "signal";
        case ShellCommandEnd::Kind::TimedOut:
            return "timeout";
        case ShellCommandEnd::Kind::Stopped:
            return "interrupted";
        default:
            return "not-started";
    }
}

std::string FailureMessage(const ShellCommandEnd& end, uint32_t timeoutSeconds) {
    switch (end.kind) {
        case ShellCommandEnd::Kind::Exited:
            return FormatText(kCommandStatusFormat, end.status);
        case ShellCommandEnd::Kind::Signalled:
            return FormatText(kCommandSignalFormat, end.status);
        case ShellCommandEnd::Kind::TimedOut:
            return FormatText(kCommandTimedOutFormat, timeoutSeconds);
        default:
            return kCommandNotStarted;
    }
}

template <typename Parsed, typename Parse>
std::optional<Parsed> ParsedOrNone(const char* text, Parse parse) {
    if (text == nullptr) {
        return std::nullopt;
    }
    Parsed parsed;
    std::string why;
    parse(text, parsed, why);
    return parsed;
}

}  // namespace

Fixture::Fixture(const Settings& runSettings, RunReport* runReport)
    : settings(runSettings),
      report(runReport),
      reset(ParsedOrNone<LineSequence>(runSettings.resetSequence, ParseLineSequence)),
      resetEnd(ParsedOrNone<LineSequence>(runSettings.resetEndSequence, ParseLineSequence)),
      startWhen(ParsedOrNone<LineLevel>(runSettings.startWhen, ParseLineLevel)) {}

bool Fixture::InUse(const Settings& settings) {
    return settings.resetSequence != nullptr || settings.resetEndSequence != nullptr ||
           settings.powerCommand != nullptr || settings.startWhen != nullptr;
}

std::string Fixture::InsteadLine() const {
    std::string by;
    if (settings.powerCommand != nullptr && reset) {
        by = FormatText(kByBothFormat, reset->text.c_str());
    } else if (reset) {
        by = FormatText(kBySequenceFormat, reset->text.c_str());
    } else {
        by = kByPowerCommand;
    }
    return FormatText(kInsteadFormat, by.c_str());
}

void Fixture::Prepare(COMPort& port) const {
    if (reset || resetEnd || startWhen) {
        port.CheckModemLines();
    }
}

void Fixture::Start(COMPort& port) {
    if (settings.gangMember == 0) {
        std::printf("%s", InsteadLine().c_str());
        std::fflush(stdout);
    }
    if (settings.powerCommand != nullptr) {
        RunPowerCommand(port);
    }
    if (reset) {
        if (report != nullptr) {
            report->SetResetSequence(reset->text);
        }
        RunLineSequence(port, *reset, true);
    }
}

void Fixture::RunPowerCommand(COMPort& port) {
    const EnvironmentAdditions environment = {{"VANTOIR_PORT", settings.portName},
                                              {"VANTOIR_DEVICE", port.DevicePath()},
                                              {"VANTOIR_BOARD", std::to_string(boardNumber)}};
    const ShellCommandEnd end =
        RunShellCommand(settings.powerCommand, environment, settings.timeoutSeconds * 1000u,
                        [] { return InterruptRequest() != 0; });
    if (report != nullptr) {
        const bool hasStatus = end.kind == ShellCommandEnd::Kind::Exited ||
                               end.kind == ShellCommandEnd::Kind::Signalled;
        report->SetPowerCommand(settings.powerCommand, EndName(end.kind),
                                hasStatus ? std::optional<int>(end.status) : std::nullopt);
    }
    if (end.kind == ShellCommandEnd::Kind::Stopped) {
        throw InterruptedError(InterruptRequest());
    }
    if (end.kind != ShellCommandEnd::Kind::Exited || end.status != 0) {
        throw PowerCommandError(FailureMessage(end, settings.timeoutSeconds), 1);
    }
}

void Fixture::EndBoard(COMPort& port, bool quietly) const {
    if (!resetEnd) {
        return;
    }
    if (!quietly) {
        RunLineSequence(port, *resetEnd, false);
        return;
    }
    try {
        RunLineSequence(port, *resetEnd, false);
    } catch (const std::exception&) {
        // The error already leaving is the one to report.
    }
}

bool Fixture::AwaitLevel(COMPort& port, bool level) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point begun = Clock::now();
    for (;;) {
        const bool asserted = (port.GetModemSignals() & startWhen->modemBit) != 0;
        if (asserted == level) {
            startWaitSeconds = std::chrono::duration<double>(Clock::now() - begun).count();
            return true;
        }
        if (InterruptRequest() != 0) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kLevelLookMs));
    }
}

bool Fixture::AwaitStartSignal(COMPort& port) {
    std::printf(kAwaitingStartFormat, startWhen->text.c_str());
    std::fflush(stdout);
    return AwaitLevel(port, startWhen->asserted);
}

bool Fixture::AwaitStartSignalEnd(COMPort& port) {
    std::printf(kAwaitingStartEndFormat, startWhen->text.c_str());
    std::fflush(stdout);
    return AwaitLevel(port, !startWhen->asserted);
}

void Fixture::RecordStartWait() const {
    if (report != nullptr && startWhen) {
        report->SetStartWait(startWhen->text, startWaitSeconds);
    }
}
