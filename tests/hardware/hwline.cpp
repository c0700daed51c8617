// hwline: host-side helper of the guest test suite (scripts/test-hardware).
//
//   hwline guest RUNDIR -- COMMAND...
//       Runs COMMAND (QEMU) with two serial lines of the guest on descriptors
//       3 ("uart") and 4 ("usb"), each one end of a socket pair, and joins each
//       line to the pseudo-terminal of the current simulated board. The end
//       QEMU writes to has the smallest send buffer the system allows, so that
//       a paced line backs up into the guest as a real one does. Commands, one
//       per line on the FIFO RUNDIR/LINE.ctl, each answered with "ok" on the
//       FIFO RUNDIR/LINE.reply:
//         open PATH RATE  wire the line to PATH; with RATE > 0 what the guest
//                         sends is taken at most at RATE baud (10 bits a byte)
//         close           unwire (bytes the guest sends meanwhile are dropped)
//       Ends when COMMAND ends; ending it (SIGTERM) ends COMMAND.
//   hwline monitor SOCKET COMMAND
//       Sends one command to the QEMU human monitor on a UNIX socket and
//       prints its answer.
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

int openFifo(const std::string& path) {
    int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        std::perror(path.c_str());
    }
    return fd;
}

struct Bridge {
    int guest = -1;
    int control = -1;
    int reply = -1;
    int board = -1;
    long rate = 0;
    Clock::time_point next{};
    std::string commands;

    void unwire() {
        if (board >= 0) {
            close(board);
        }
        board = -1;
    }

    void wire(const std::string& path, long baud) {
        unwire();
        board = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (board < 0) {
            std::perror(path.c_str());
            return;
        }
        termios t{};
        if (tcgetattr(board, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(board, TCSANOW, &t);
        }
        rate = baud;
        next = Clock::now();
    }

    // Runs the complete command lines received so far.
    void runCommands() {
        size_t end;
        while ((end = commands.find('\n')) != std::string::npos) {
            std::string line = commands.substr(0, end);
            commands.erase(0, end + 1);
            if (line.rfind("open ", 0) == 0) {
                size_t space = line.rfind(' ');
                wire(line.substr(5, space - 5), std::stol(line.substr(space + 1)));
            } else if (line == "close") {
                unwire();
            }
            (void)!write(reply, "ok\n", 3);
        }
    }

    std::chrono::nanoseconds byteTime() const {
        return std::chrono::nanoseconds(10'000'000'000LL / rate);
    }

    // How many bytes from the guest may be taken now (pacing), and the poll
    // time-out until more may.
    size_t allowance(int& waitMs) {
        waitMs = -1;
        if (rate <= 0 || board < 0) {
            return 4096;
        }
        auto now = Clock::now();
        next = std::max(next, now - 4 * byteTime());
        if (next > now) {
            waitMs =
                int(std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count()) + 1;
            return 0;
        }
        return size_t((now - next) / byteTime()) + 1;
    }

    void guestToBoard(size_t limit) {
        char buf[4096];
        ssize_t n = read(guest, buf, std::min(limit, sizeof buf));
        if (n <= 0 || board < 0) {
            return;
        }
        if (rate > 0) {
            next += n * byteTime();
        }
        for (ssize_t done = 0; done < n;) {
            ssize_t w = write(board, buf + done, size_t(n - done));
            if (w < 0 && errno != EAGAIN) {
                return;
            }
            if (w < 0) {
                pollfd p{board, POLLOUT, 0};
                poll(&p, 1, 100);
                continue;
            }
            done += w;
        }
    }

    void boardToGuest() {
        char buf[4096];
        ssize_t n = read(board, buf, sizeof buf);
        if (n <= 0) {
            if (n == 0 || errno != EAGAIN) {
                unwire();  // the board has gone
            }
            return;
        }
        (void)!write(guest, buf, size_t(n));  // a full buffer drops, as an overrun would
    }

    // Adds this line's descriptors to the poll set.
    void watch(std::vector<pollfd>& set, int& waitMs) {
        int lineWait = -1;
        allowed = allowance(lineWait);
        if (lineWait >= 0 && (waitMs < 0 || lineWait < waitMs)) {
            waitMs = lineWait;
        }
        first = set.size();
        set.push_back({control, POLLIN, 0});
        set.push_back({guest, short(allowed ? POLLIN : 0), 0});
        set.push_back({board, short(board >= 0 ? POLLIN : 0), 0});
    }

    void serve(const std::vector<pollfd>& set) {
        if (set[first].revents & POLLIN) {
            char buf[512];
            ssize_t n = read(control, buf, sizeof buf);
            commands.append(buf, size_t(std::max<ssize_t>(n, 0)));
            runCommands();
        }
        if (set[first + 1].revents & POLLIN) {
            guestToBoard(allowed);
        }
        if (board >= 0 && (set[first + 2].revents & (POLLIN | POLLHUP | POLLERR))) {
            boardToGuest();
        }
    }

    size_t allowed = 0;
    size_t first = 0;
};

volatile sig_atomic_t stopRequested = 0;

void onStop(int) {
    stopRequested = 1;
}

// A line to the guest: a socket pair, QEMU's end (returned in qemuEnd) with
// the smallest send buffer the system allows.
int lineFor(Bridge& b, const std::string& run, const std::string& name, int& qemuEnd) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        std::perror("socketpair");
        return 1;
    }
    int smallest = 1;
    setsockopt(pair[1], SOL_SOCKET, SO_SNDBUF, &smallest, sizeof smallest);
    fcntl(pair[0], F_SETFL, O_NONBLOCK);
    b.guest = pair[0];
    qemuEnd = pair[1];
    b.control = openFifo(run + "/" + name + ".ctl");
    b.reply = openFifo(run + "/" + name + ".reply");
    return b.control < 0 || b.reply < 0;
}

// Starts COMMAND with the guest's ends of the lines as descriptors 3 and 4.
pid_t start(const int ends[2], char** command) {
    pid_t child = fork();
    if (child == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        // Out of the way of 3 and 4 first, then onto them (dup2 keeps them open
        // across exec).
        int uart = fcntl(ends[0], F_DUPFD_CLOEXEC, 10);
        int usb = fcntl(ends[1], F_DUPFD_CLOEXEC, 10);
        if (dup2(uart, 3) != 3 || dup2(usb, 4) != 4) {
            _exit(127);
        }
        execvp(command[0], command);
        std::perror(command[0]);
        _exit(127);
    }
    return child;
}

int guest(const std::string& run, char** command) {
    Bridge lines[2];
    int ends[2];
    if (lineFor(lines[0], run, "uart", ends[0]) || lineFor(lines[1], run, "usb", ends[1])) {
        return 1;
    }
    std::signal(SIGTERM, onStop);
    std::signal(SIGINT, onStop);
    pid_t child = start(ends, command);
    close(ends[0]);
    close(ends[1]);
    int status = 0;
    while (!stopRequested && waitpid(child, &status, WNOHANG) == 0) {
        std::vector<pollfd> set;
        int waitMs = 200;
        for (Bridge& b : lines) {
            b.watch(set, waitMs);
        }
        if (poll(set.data(), set.size(), waitMs) < 0 && errno != EINTR) {
            break;
        }
        for (Bridge& b : lines) {
            b.serve(set);
        }
    }
    if (stopRequested) {
        kill(child, SIGTERM);
        waitpid(child, &status, 0);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

// Reads from the monitor until its prompt; false after the deadline.
bool readToPrompt(int fd, std::string& text, Clock::time_point deadline) {
    static const std::string prompt = "(qemu) ";
    while (text.size() < prompt.size() ||
           text.compare(text.size() - prompt.size(), prompt.size(), prompt) != 0) {
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, int(left)) <= 0) {
            return false;
        }
        char buf[1024];
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) {
            return false;
        }
        text.append(buf, size_t(n));
    }
    return true;
}

int monitor(const std::string& socketPath, const std::string& command) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", socketPath.c_str());
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        std::perror(socketPath.c_str());
        return 1;
    }
    auto deadline = Clock::now() + std::chrono::seconds(10);
    std::string text;
    if (!readToPrompt(fd, text, deadline)) {
        return 1;
    }
    std::string line = command + "\n";
    (void)!write(fd, line.data(), line.size());
    text.clear();
    bool ok = readToPrompt(fd, text, deadline);
    std::fwrite(text.data(), 1, text.size(), stdout);
    close(fd);
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string what = argc > 1 ? argv[1] : "";
    if (what == "guest" && argc > 4 && std::string(argv[3]) == "--") {
        return guest(argv[2], argv + 4);
    }
    if (what == "monitor" && argc == 4) {
        return monitor(argv[2], argv[3]);
    }
    std::fprintf(stderr,
                 "usage: hwline guest RUNDIR -- COMMAND... | hwline monitor SOCKET COMMAND\n");
    return 2;
}
