#include "app/console/ConsoleRecorder.h"

#include <cstdio>
#include <ctime>

#include "app/console/ConsoleMessages.h"
#include "errors/FatalError.h"
#include "text/Shown.h"

namespace {

// The local time of at, and its milliseconds. The program has one thread,
// so the C library's shared result is safe to use.
std::tm LocalTime(std::chrono::system_clock::time_point at, int& milliseconds) {
    const auto sinceEpoch = at.time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch);
    milliseconds = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch - seconds).count());
    const std::time_t whole = static_cast<std::time_t>(seconds.count());
    const std::tm* local = std::localtime(&whole);
    return local != nullptr ? *local : std::tm{};
}

}  // namespace

ConsoleRecorder::ConsoleRecorder(const Settings& runSettings) : settings(runSettings) {
    if (settings.logFile != nullptr) {
        if (!log.Open(settings.logFile)) {
            FatalError(messages::kCannotOpenLogFormat, settings.logFile);
        }
        logging = true;
    }
}

std::string ConsoleRecorder::Stamp() const {
    if (settings.lineStamps == kLineStampsDateTime) {
        int milliseconds = 0;
        const std::tm local = LocalTime(std::chrono::system_clock::now(), milliseconds);
        return DateTimeStamp(local, milliseconds);
    }
    const auto elapsed =
        std::chrono::steady_clock::now() - firstStart.value_or(std::chrono::steady_clock::now());
    return ElapsedStamp(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

void ConsoleRecorder::Log(const std::string& text) {
    if (!logging || text.empty()) {
        return;
    }
    // A log that stops taking the output (a full disk) does not stop the
    // console: the screen goes on.
    log.Append(text);
    logLineOpen = text.back() != '\n';
}

void ConsoleRecorder::LogHeader(const char* event, const std::string& device) {
    if (!logging) {
        return;
    }
    int milliseconds = 0;
    const std::tm local = LocalTime(std::chrono::system_clock::now(), milliseconds);
    char when[32] = "";
    std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
    std::string port = settings.portName;
    if (device != port) {
        port += " (" + device + ")";
    }
    char rate[24];
    std::snprintf(rate, sizeof rate, "%ld", static_cast<long>(settings.baudRate));
    Log(std::string(logLineOpen ? "\n" : "") + "=== " + when + " " + event + " " + port + " at " +
        rate + " baud ===\n");
}

void ConsoleRecorder::OnConsoleStarted(const std::string& device) {
    if (!firstStart) {
        firstStart = std::chrono::steady_clock::now();
    }
    LogHeader("console on", device);
}

void ConsoleRecorder::Show(const char* bytes, uint32_t count) {
    if (settings.lineStamps == kLineStampsNone) {
        shown.assign(bytes, count);
    } else {
        shown.clear();
        stamper.Add(bytes, count, Stamp(), shown);
    }
    ShowBytes(shown.data(), shown.size());
    Log(shown);
}

void ConsoleRecorder::EndOfBurst() {
    std::fflush(stdout);
}

void ConsoleRecorder::OnPortGone() {
    stamper.StartLine();
}

void ConsoleRecorder::OnPortBack(const std::string& device) {
    stamper.StartLine();
    LogHeader("reconnected to", device);
}
