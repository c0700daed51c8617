#include <errno.h>
#include <signal.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>

#include "serial/ConsoleInput.h"

namespace {

constexpr int kInputFd = STDIN_FILENO;
constexpr std::size_t kReadChunkBytes = 64;
constexpr int kGuardedSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGABRT};
constexpr std::size_t kGuardedSignalCount = sizeof kGuardedSignals / sizeof kGuardedSignals[0];

// The terminal as it was found. Kept at file level because the signal path
// and the exit path restore it without an object at hand.
struct termios foundSettings;
volatile std::sig_atomic_t settingsChanged = 0;
struct sigaction previousActions[kGuardedSignalCount];
bool exitHookRegistered = false;

void RestoreTerminal() {
    if (settingsChanged != 0) {
        tcsetattr(kInputFd, TCSANOW, &foundSettings);
    }
}

void RestoreAtExit() {
    RestoreTerminal();
    settingsChanged = 0;
}

// The handler that was there before the guard, when it is a function of
// the program's own (the run's interrupt handler, serial/Interrupt.h).
using SignalHandler = void (*)(int);

SignalHandler ChainedHandler(int signalNumber) {
    for (std::size_t i = 0; i < kGuardedSignalCount; ++i) {
        const struct sigaction& previous = previousActions[i];
        if (kGuardedSignals[i] == signalNumber && (previous.sa_flags & SA_SIGINFO) == 0 &&
            previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
            return previous.sa_handler;
        }
    }
    return nullptr;
}

// Only async-signal-safe calls here. A signal that the program handles
// itself goes on to that handler once the terminal is back (the run then
// ends in order); any other is raised again: it stays blocked while the
// handler runs, so the raise takes effect, with the default action, as soon
// as the handler returns.
extern "C" void RestoreAndResignal(int signalNumber) {
    const int savedErrno = errno;
    RestoreTerminal();
    if (SignalHandler chained = ChainedHandler(signalNumber)) {
        chained(signalNumber);
    } else {
        signal(signalNumber, SIG_DFL);
        raise(signalNumber);
    }
    errno = savedErrno;
}

void InstallSignalGuards() {
    struct sigaction action {};
    action.sa_handler = RestoreAndResignal;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < kGuardedSignalCount; ++i) {
        sigaction(kGuardedSignals[i], nullptr, &previousActions[i]);
        // A signal the program was started with ignored (nohup, a background
        // job of a non-interactive shell) stays ignored.
        if (previousActions[i].sa_handler != SIG_IGN) {
            sigaction(kGuardedSignals[i], &action, nullptr);
        }
    }
}

void RemoveSignalGuards() {
    for (std::size_t i = 0; i < kGuardedSignalCount; ++i) {
        sigaction(kGuardedSignals[i], &previousActions[i], nullptr);
    }
}

void DisableChar(struct termios& settings, int index) {
    settings.c_cc[index] = _POSIX_VDISABLE;
}

struct termios KeyAtATime(const struct termios& found) {
    struct termios raw = found;
    raw.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP);
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHONL | IEXTEN);
    raw.c_lflag |= ISIG;
    DisableChar(raw, VQUIT);
    DisableChar(raw, VSUSP);
#ifdef VDSUSP
    DisableChar(raw, VDSUSP);
#endif
#ifdef VSTATUS
    DisableChar(raw, VSTATUS);
#endif
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    return raw;
}

int RemainingMs(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// select(), not poll(): macOS's poll() does not support terminal devices such
// as /dev/tty and reports them as not open, which would read as ready; the
// blocking read after it would then wait for a key and stall the board's
// output. A descriptor that select() refuses (standard input closed) counts
// as readable: the read that follows finds the failure and ends the input.
int SelectReadable(int waitMs) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(kInputFd, &readable);
    timeval limit{};
    limit.tv_sec = waitMs / 1000;
    limit.tv_usec = static_cast<decltype(limit.tv_usec)>((waitMs % 1000) * 1000);
    return select(kInputFd + 1, &readable, nullptr, nullptr, &limit);
}

}  // namespace

ConsoleInput::ConsoleInput() {
    if (!isatty(kInputFd) || tcgetattr(kInputFd, &foundSettings) != 0) {
        return;
    }
    keys = TerminalKeys(foundSettings.c_cc[VERASE] == _POSIX_VDISABLE
                            ? TerminalKeys::kDefaultEraseChar
                            : static_cast<uint8_t>(foundSettings.c_cc[VERASE]));
    if (!exitHookRegistered) {
        exitHookRegistered = std::atexit(RestoreAtExit) == 0;
    }
    InstallSignalGuards();
    settingsChanged = 1;
    const struct termios raw = KeyAtATime(foundSettings);
    terminal = tcsetattr(kInputFd, TCSANOW, &raw) == 0;
    if (!terminal) {
        settingsChanged = 0;
        RemoveSignalGuards();
    }
}

ConsoleInput::~ConsoleInput() {
    if (settingsChanged == 0) {
        return;
    }
    RestoreTerminal();
    settingsChanged = 0;
    RemoveSignalGuards();
}

int ConsoleInput::PollKey(uint32_t waitMs, char& key) {
    while (nextCharacter == characters.size() && !ended) {
        const uint32_t wait = keys.Pending() ? kEscapeWaitMs : waitMs;
        if (WaitReadable(wait)) {
            ReadAvailable();
            waitMs = 0;
        } else if (keys.Pending()) {
            keys.Expire(characters);
        } else {
            return 0;
        }
    }
    return TakeCharacter(key) ? 1 : 0;
}

bool ConsoleInput::WaitReadable(uint32_t waitMs) {
    if (waitMs == 0) {
        // The look of every loop turn: one call, no clock.
        const int ready = SelectReadable(0);
        return ready > 0 || (ready < 0 && errno != EINTR);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        const int ready = SelectReadable(RemainingMs(deadline));
        if (ready > 0) {
            // End of input counts as readable: the read that follows finds it.
            return true;
        }
        if (ready == 0) {
            return false;
        }
        if (errno != EINTR) {
            return true;
        }
    }
}

void ConsoleInput::ReadAvailable() {
    uint8_t bytes[kReadChunkBytes];
    const ssize_t count = read(kInputFd, bytes, sizeof bytes);
    if (count > 0) {
        TakeBytes(bytes, static_cast<std::size_t>(count));
        return;
    }
    if (count < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
        return;
    }
    // End of file, a hung-up terminal or a failing read: the keyboard is gone.
    ended = true;
    keys.Expire(characters);
}

void ConsoleInput::TakeBytes(const uint8_t* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (terminal) {
            keys.Feed(bytes[i], characters);
        } else {
            characters.push_back(static_cast<char>(bytes[i]));
        }
    }
}
