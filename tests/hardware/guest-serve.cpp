// guest-serve: the first process of the test guest once it is set up. Serves
// the commands of scripts/test-hardware on its standard input and output (the
// guest's console, set raw here: no echo, no line editing, no flow control).
//
// Every command comes framed on a line of its own, and nothing is taken for a
// command unless the frame is whole:
//   @@CMD <hex of BODY> <checksum of BODY>
//   BODY: <sequence> <seconds> <watched path or -> <command for sh>
// The checksum is the one cksum(1) prints. A whole frame is acknowledged with
//   @@ACK <sequence>
// before the command runs; anything else is answered with
//   @@BAD <why> <hex of the first bytes received>
// and nothing runs. The command runs with sh in /data, input from /dev/null,
// in a process group of its own that is killed after the seconds given and
// when the command ends. Then come its output, error output and status:
//   @@OUT <sequence> <length> <checksum> <hex>
//   @@ERR <sequence> <length> <checksum> <hex>
//   @@RC <sequence> <status> <run ms> <gone ms or -> <checksum of the fields before>
// where "gone ms" is when, counted from the start, the watched path was first
// missing (looked at every 5 ms). As the guest's first process it also reaps
// every orphan; with SIGCHLD blocked, no signal ever interrupts its reads.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr long kWatchIntervalMs = 5;
constexpr size_t kLongestLine = 1 << 20;
constexpr size_t kBadEchoBytes = 48;

// The CRC of POSIX cksum: polynomial 0x04C11DB7, the length appended.
uint32_t Checksum(const std::string& bytes) {
    uint32_t crc = 0;
    auto add = [&crc](uint8_t byte) {
        crc ^= uint32_t{byte} << 24;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x80000000u) != 0 ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
        }
    };
    for (char c : bytes) {
        add(static_cast<uint8_t>(c));
    }
    for (size_t length = bytes.size(); length != 0; length >>= 8) {
        add(static_cast<uint8_t>(length & 0xff));
    }
    return ~crc;
}

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (char c : bytes) {
        text += digits[static_cast<uint8_t>(c) >> 4];
        text += digits[static_cast<uint8_t>(c) & 15];
    }
    return text;
}

bool Unhex(const std::string& text, std::string& bytes) {
    auto value = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    };
    if (text.size() % 2 != 0) {
        return false;
    }
    bytes.clear();
    for (size_t i = 0; i < text.size(); i += 2) {
        const int high = value(text[i]);
        const int low = value(text[i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        bytes += static_cast<char>(high * 16 + low);
    }
    return true;
}

void Send(const std::string& line) {
    const std::string text = line + "\n";
    for (size_t done = 0; done < text.size();) {
        const ssize_t n = write(STDOUT_FILENO, text.data() + done, text.size() - done);
        if (n > 0) {
            done += size_t(n);
        } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
            return;
        }
    }
}

long NowMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

std::string ReadFile(const char* path) {
    std::string bytes;
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    char buf[65536];
    ssize_t n;
    while (fd >= 0 && (n = read(fd, buf, sizeof buf)) != 0) {
        if (n > 0) {
            bytes.append(buf, size_t(n));
        } else if (errno != EINTR) {
            break;
        }
    }
    if (fd >= 0) {
        close(fd);
    }
    return bytes;
}

struct Command {
    unsigned long sequence = 0;
    long seconds = 0;
    std::string watched;  // empty: none
    std::string text;
};

// Why the line is not a whole command frame; empty when it is one.
std::string Parse(const std::string& line, Command& command) {
    const std::string tag = "@@CMD ";
    if (line.compare(0, tag.size(), tag) != 0) {
        return "no-frame";
    }
    const size_t space = line.find(' ', tag.size());
    std::string body;
    if (space == std::string::npos || !Unhex(line.substr(tag.size(), space - tag.size()), body)) {
        return "damaged-hex";
    }
    if (line.substr(space + 1) != std::to_string(Checksum(body))) {
        return "wrong-checksum";
    }
    char watched[4096];
    int used = 0;
    if (std::sscanf(body.c_str(), "%lu %ld %4095s %n", &command.sequence, &command.seconds, watched,
                    &used) != 3 ||
        used == 0 || command.seconds <= 0) {
        return "damaged-fields";
    }
    command.watched = std::string(watched) == "-" ? std::string() : watched;
    command.text = body.substr(size_t(used));
    return std::string();
}

void ReapOrphans() {
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
}

pid_t Start(const Command& command, const sigset_t& unblocked) {
    const pid_t child = fork();
    if (child == 0) {
        setpgid(0, 0);
        sigprocmask(SIG_SETMASK, &unblocked, nullptr);
        const int in = open("/dev/null", O_RDONLY);
        const int out = open("/tmp/out", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open("/tmp/err", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 ||
            dup2(err, 2) < 0 || chdir("/data") != 0) {
            _exit(126);
        }
        execl("/bin/sh", "sh", "-c", command.text.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    if (child > 0) {
        setpgid(child, child);
    }
    return child;
}

// Waits for the command's end (killing it at its deadline); its status as a
// shell reports it, and when the watched path went missing.
int Finish(const Command& command, pid_t child, long started, long& goneMs) {
    const long deadline = started + command.seconds * 1000;
    sigset_t childSignal;
    sigemptyset(&childSignal);
    sigaddset(&childSignal, SIGCHLD);
    bool killed = false;
    for (;;) {
        int status = 0;
        pid_t ended;
        while ((ended = waitpid(-1, &status, WNOHANG)) > 0) {
            if (ended == child) {
                kill(-child, SIGKILL);  // what it left running in the background
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
        }
        const long now = NowMs();
        struct stat info {};
        if (!command.watched.empty() && goneMs < 0 && stat(command.watched.c_str(), &info) != 0) {
            goneMs = now - started;
        }
        if (now >= deadline && !killed) {
            kill(-child, SIGKILL);
            killed = true;
        }
        long waitMs = killed ? 1000 : deadline - now;
        if (!command.watched.empty() && goneMs < 0 && waitMs > kWatchIntervalMs) {
            waitMs = kWatchIntervalMs;
        }
        const timespec wait{waitMs / 1000, (waitMs % 1000) * 1000000};
        sigtimedwait(&childSignal, nullptr, &wait);
    }
}

void SendStream(const char* kind, unsigned long sequence, const std::string& bytes) {
    Send(std::string("@@") + kind + " " + std::to_string(sequence) + " " +
         std::to_string(bytes.size()) + " " + std::to_string(Checksum(bytes)) + " " + Hex(bytes));
}

void Run(const Command& command, const sigset_t& unblocked) {
    Send("@@ACK " + std::to_string(command.sequence));
    const long started = NowMs();
    long goneMs = -1;
    const pid_t child = Start(command, unblocked);
    const int status = child < 0 ? 126 : Finish(command, child, started, goneMs);
    const long runMs = NowMs() - started;
    SendStream("OUT", command.sequence, ReadFile("/tmp/out"));
    SendStream("ERR", command.sequence, ReadFile("/tmp/err"));
    const std::string fields = std::to_string(command.sequence) + " " + std::to_string(status) +
                               " " + std::to_string(runMs) + " " +
                               (goneMs < 0 ? std::string("-") : std::to_string(goneMs));
    Send("@@RC " + fields + " " + std::to_string(Checksum(fields)));
}

void MakeRaw(int fd) {
    termios settings{};
    if (tcgetattr(fd, &settings) == 0) {
        cfmakeraw(&settings);
        settings.c_cflag |= CLOCAL | CREAD;
        tcsetattr(fd, TCSANOW, &settings);
    }
}

void Serve(const sigset_t& unblocked) {
    std::string pending;
    for (;;) {
        pollfd input{STDIN_FILENO, POLLIN, 0};
        if (poll(&input, 1, 1000) <= 0) {
            ReapOrphans();
            continue;
        }
        char buf[4096];
        const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
        if (n <= 0) {
            continue;
        }
        pending.append(buf, size_t(n));
        size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            Command command;
            const std::string why = Parse(line, command);
            if (why.empty()) {
                Run(command, unblocked);
            } else if (!line.empty()) {
                Send("@@BAD " + why + " " + Hex(line.substr(0, kBadEchoBytes)));
            }
        }
        if (pending.size() > kLongestLine) {
            Send("@@BAD too-long " + Hex(pending.substr(0, kBadEchoBytes)));
            pending.clear();
        }
    }
}

}  // namespace

int main() {
    sigset_t blocked;
    sigset_t unblocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGCHLD);
    sigprocmask(SIG_BLOCK, &blocked, &unblocked);
    MakeRaw(STDIN_FILENO);
    Send("@@READY");
    Serve(unblocked);
}
