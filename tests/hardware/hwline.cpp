// hwline: host-side helper of the guest test suite (scripts/test-hardware).
//
//   hwline bridge BASE CONTROL REPLY
//       Joins one serial line of the QEMU guest (a pipe chardev: BASE.out
//       carries what the guest sends, BASE.in what it receives) to the
//       pseudo-terminal of the current simulated board. Commands, one per line
//       on the FIFO CONTROL, each answered with "ok" on the FIFO REPLY:
//         open PATH RATE  wire the line to PATH; with RATE > 0 what the guest
//                         sends is taken at most at RATE baud (10 bits a byte),
//                         so the guest's own queue fills as on a real line
//         close           unwire (bytes the guest sends meanwhile are dropped)
//         quit            end
//       The guest-to-host pipe is shrunk to one page, so that no more than
//       that waits outside the guest.
//   hwline monitor SOCKET COMMAND
//       Sends one command to the QEMU human monitor on a UNIX socket and
//       prints its answer.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

int openFifo(const std::string& path)
{
    int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        std::perror(path.c_str());
    }
    return fd;
}

struct Bridge {
    int fromGuest = -1;
    int toGuest = -1;
    int control = -1;
    int reply = -1;
    int board = -1;
    long rate = 0;
    Clock::time_point next{};
    std::string commands;

    void unwire()
    {
        if (board >= 0) {
            close(board);
        }
        board = -1;
    }

    void wire(const std::string& path, long baud)
    {
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

    // Runs the complete command lines received so far; false on "quit".
    bool runCommands()
    {
        size_t end;
        while ((end = commands.find('\n')) != std::string::npos) {
            std::string line = commands.substr(0, end);
            commands.erase(0, end + 1);
            if (line == "quit") {
                return false;
            }
            if (line.rfind("open ", 0) == 0) {
                size_t space = line.rfind(' ');
                wire(line.substr(5, space - 5), std::stol(line.substr(space + 1)));
            } else if (line == "close") {
                unwire();
            }
            (void)!write(reply, "ok\n", 3);
        }
        return true;
    }

    std::chrono::nanoseconds byteTime() const
    {
        return std::chrono::nanoseconds(10'000'000'000LL / rate);
    }

    // How many bytes from the guest may be taken now (pacing), and the poll
    // time-out until more may.
    size_t allowance(int& waitMs)
    {
        waitMs = -1;
        if (rate <= 0 || board < 0) {
            return 4096;
        }
        auto now = Clock::now();
        next = std::max(next, now - 4 * byteTime());
        if (next > now) {
            waitMs = int(std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count()) + 1;
            return 0;
        }
        return size_t((now - next) / byteTime()) + 1;
    }

    void guestToBoard(size_t limit)
    {
        char buf[4096];
        ssize_t n = read(fromGuest, buf, std::min(limit, sizeof buf));
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

    void boardToGuest()
    {
        char buf[4096];
        ssize_t n = read(board, buf, sizeof buf);
        if (n <= 0) {
            if (n == 0 || errno != EAGAIN) {
                unwire(); // the board has gone
            }
            return;
        }
        (void)!write(toGuest, buf, size_t(n)); // a full pipe drops, as an overrun would
    }

    int run()
    {
        for (;;) {
            int waitMs = -1;
            size_t allowed = allowance(waitMs);
            pollfd p[3] = {{control, POLLIN, 0}, {fromGuest, short(allowed ? POLLIN : 0), 0}, {board, POLLIN, 0}};
            if (poll(p, board >= 0 ? 3 : 2, waitMs) < 0 && errno != EINTR) {
                return 1;
            }
            if (p[0].revents & POLLIN) {
                char buf[512];
                ssize_t n = read(control, buf, sizeof buf);
                commands.append(buf, size_t(std::max<ssize_t>(n, 0)));
                if (!runCommands()) {
                    return 0;
                }
            }
            if (p[1].revents & POLLIN) {
                guestToBoard(allowed);
            }
            if (board >= 0 && (p[2].revents & (POLLIN | POLLHUP | POLLERR))) {
                boardToGuest();
            }
        }
    }
};

int bridge(const std::string& base, const std::string& control, const std::string& reply)
{
    Bridge b;
    b.fromGuest = openFifo(base + ".out");
    b.toGuest = openFifo(base + ".in");
    b.control = openFifo(control);
    b.reply = openFifo(reply);
    if (b.fromGuest < 0 || b.toGuest < 0 || b.control < 0 || b.reply < 0) {
        return 1;
    }
    fcntl(b.fromGuest, F_SETPIPE_SZ, 4096);
    return b.run();
}

// Reads from the monitor until its prompt; false after the deadline.
bool readToPrompt(int fd, std::string& text, Clock::time_point deadline)
{
    static const std::string prompt = "(qemu) ";
    while (text.size() < prompt.size() || text.compare(text.size() - prompt.size(), prompt.size(), prompt) != 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
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

int monitor(const std::string& socketPath, const std::string& command)
{
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

} // namespace

int main(int argc, char** argv)
{
    std::string what = argc > 1 ? argv[1] : "";
    if (what == "bridge" && argc == 5) {
        return bridge(argv[2], argv[3], argv[4]);
    }
    if (what == "monitor" && argc == 4) {
        return monitor(argv[2], argv[3]);
    }
    std::fprintf(stderr, "usage: hwline bridge BASE CONTROL REPLY | hwline monitor SOCKET COMMAND\n");
    return 2;
}
