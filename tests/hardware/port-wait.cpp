// port-wait PORT gone|openable [SECONDS]: waits in the guest until the serial
// port's device node is gone (an adapter pulled out), or until the port can
// be opened and its settings read, as vantoir opens it (an adapter plugged
// in: its node may appear before its driver takes an open). Looks every
// 10 ms; without SECONDS it waits until it is ended. Exit status 1 when the
// time has passed, with a line saying what the port was left at.
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr long kLookIntervalMs = 10;

long NowMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

// 0 when the event has happened, else the errno that says why not yet.
int NotYet(const char* port, bool gone) {
    struct stat info {};
    if (gone) {
        return stat(port, &info) != 0 ? 0 : EEXIST;
    }
    const int fd = open(port, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    termios settings{};
    const int why = tcgetattr(fd, &settings) == 0 ? 0 : errno;
    close(fd);
    return why;
}

}  // namespace

int main(int argc, char** argv) {
    const bool gone = argc >= 3 && std::strcmp(argv[2], "gone") == 0;
    if (argc < 3 || argc > 4 || (!gone && std::strcmp(argv[2], "openable") != 0)) {
        std::fprintf(stderr, "usage: port-wait PORT gone|openable [SECONDS]\n");
        return 2;
    }
    const long deadline = argc == 4 ? NowMs() + std::atol(argv[3]) * 1000 : -1;
    for (;;) {
        const int why = NotYet(argv[1], gone);
        if (why == 0) {
            return 0;
        }
        if (deadline >= 0 && NowMs() >= deadline) {
            std::fprintf(stderr, "port-wait: %s not %s after %s s: %s\n", argv[1], argv[2], argv[3],
                         std::strerror(why));
            return 1;
        }
        const timespec wait{0, kLookIntervalMs * 1000000};
        nanosleep(&wait, nullptr);
    }
}
