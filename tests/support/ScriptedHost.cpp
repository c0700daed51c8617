#include "tests/support/ScriptedHost.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace harness {

namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

ScriptedHost::ScriptedHost(const std::string& path) {
    fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        throw std::runtime_error("host: cannot open " + path + ": " + std::strerror(errno));
    }
    termios settings{};
    if (tcgetattr(fd, &settings) == 0) {
        cfmakeraw(&settings);
        tcsetattr(fd, TCSANOW, &settings);
    }
}

ScriptedHost::~ScriptedHost() {
    close(fd);
}

bool ScriptedHost::Write(const std::string& bytes, int timeoutMs) {
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t put = write(fd, bytes.data() + done, bytes.size() - done);
        if (put > 0) {
            done += static_cast<size_t>(put);
            continue;
        }
        if (put < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        pollfd wait = {fd, POLLOUT, 0};
        if (Clock::now() >= deadline || poll(&wait, 1, MsLeft(deadline)) == 0) {
            return false;
        }
    }
    return true;
}

bool ScriptedHost::ReadSome(Clock::time_point deadline) {
    pollfd wait = {fd, POLLIN, 0};
    int ready = poll(&wait, 1, MsLeft(deadline));
    if (ready < 0 && errno == EINTR) {
        return Clock::now() < deadline;
    }
    if (ready <= 0) {
        return false;
    }
    char buffer[4096];
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got > 0) {
        received.append(buffer, static_cast<size_t>(got));
        chunks.push_back({Clock::now(), std::string(buffer, static_cast<size_t>(got))});
        return true;
    }
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
        return true;
    }
    // A read of 0 or EIO: the master side is gone.
    hungUp = true;
    return false;
}

bool ScriptedHost::ReadUntil(const std::string& text, int timeoutMs, size_t from) {
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (received.size() < from || received.find(text, from) == std::string::npos) {
        if (!ReadSome(deadline)) {
            return false;
        }
    }
    return true;
}

bool ScriptedHost::ReadBytes(size_t count, int timeoutMs) {
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (received.size() < count) {
        if (!ReadSome(deadline)) {
            return false;
        }
    }
    return true;
}

bool ScriptedHost::WaitForHangUp(int timeoutMs) {
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!hungUp && Clock::now() < deadline) {
        ReadSome(deadline);
    }
    return hungUp;
}

void ScriptedHost::Clear() {
    received.clear();
    chunks.clear();
}

}  // namespace harness
