// closing-wait PORT none|CENTISECONDS: sets how long the guest's serial driver
// lets queued output drain when the port is closed ("none": discard it at
// once, as BSD-derived systems do for a non-blocking descriptor).
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: closing-wait PORT none|CENTISECONDS\n");
        return 2;
    }
    int fd = open(argv[1], O_RDWR | O_NOCTTY | O_NONBLOCK);
    serial_struct info{};
    if (fd < 0 || ioctl(fd, TIOCGSERIAL, &info) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    bool none = std::strcmp(argv[2], "none") == 0;
    info.closing_wait =
        static_cast<unsigned short>(none ? ASYNC_CLOSING_WAIT_NONE : std::atoi(argv[2]));
    if (ioctl(fd, TIOCSSERIAL, &info) != 0) {
        std::perror("TIOCSSERIAL");
        return 1;
    }
    return close(fd) == 0 ? 0 : 1;
}
