#pragma once
// The board's side of a pseudo-terminal: the test holds the master and hands
// the slave path to the port under test.

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

class PseudoTerminal {
  public:
    PseudoTerminal() {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0) {
            const char* name = ptsname(master);
            slavePath = name != nullptr ? name : "";
        }
    }
    ~PseudoTerminal() { CloseMaster(); }

    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    bool Ready() const { return master >= 0 && !slavePath.empty(); }
    const char* SlavePath() const { return slavePath.c_str(); }
    int Master() const { return master; }

    void CloseMaster() {
        if (master >= 0) {
            close(master);
            master = -1;
        }
    }

    bool Send(const std::vector<uint8_t>& bytes) {
        size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t result = write(master, bytes.data() + sent, bytes.size() - sent);
            if (result <= 0) {
                return false;
            }
            sent += static_cast<size_t>(result);
        }
        return true;
    }

    bool Send(const std::string& text) {
        return Send(std::vector<uint8_t>(text.begin(), text.end()));
    }

    // What the board received: count bytes, or fewer when the guard time
    // passes first.
    std::vector<uint8_t> Receive(size_t count, int guardMs = 5000) {
        std::vector<uint8_t> bytes;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(guardMs);
        while (bytes.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd ready{master, POLLIN, 0};
            if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0) {
                break;
            }
            uint8_t buffer[4096];
            const size_t want = std::min(sizeof buffer, count - bytes.size());
            const ssize_t result = read(master, buffer, want);
            if (result <= 0) {
                break;
            }
            bytes.insert(bytes.end(), buffer, buffer + result);
        }
        return bytes;
    }

    // The slave's line settings, as the port left them.
    termios LineSettings() const {
        termios settings{};
        tcgetattr(master, &settings);
        return settings;
    }

  private:
    int master = -1;
    std::string slavePath;
};
