// line-watch PORT READY STOP: holds PORT open (its settings untouched) and
// prints every change of its DTR and RTS outputs, as "MS dtr=D rts=R" with
// the milliseconds since the start, the first line the state found; looks
// every half millisecond until the file STOP exists. READY is made once the
// port is open. A second holder of the port sees the lines as the driver
// drives them, whoever sets them.

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: line-watch PORT READY STOP\n");
        return 2;
    }
    const int fd = open(argv[1], O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        std::perror(argv[1]);
        return 2;
    }
    std::FILE* ready = std::fopen(argv[2], "w");
    if (ready == nullptr) {
        std::perror(argv[2]);
        return 2;
    }
    std::fclose(ready);
    const auto start = std::chrono::steady_clock::now();
    int last = -1;
    for (;;) {
        int lines = 0;
        if (ioctl(fd, TIOCMGET, &lines) != 0) {
            std::perror("TIOCMGET");
            return 3;
        }
        lines &= TIOCM_DTR | TIOCM_RTS;
        if (lines != last) {
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - start)
                                .count();
            std::printf("%lld dtr=%d rts=%d\n", static_cast<long long>(ms),
                        (lines & TIOCM_DTR) != 0 ? 1 : 0, (lines & TIOCM_RTS) != 0 ? 1 : 0);
            std::fflush(stdout);
            last = lines;
        }
        if (access(argv[3], F_OK) == 0) {
            return 0;
        }
        usleep(500);
    }
}
