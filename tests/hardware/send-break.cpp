// send-break PORT MS: holds a break on PORT's transmit line for MS
// milliseconds (TIOCSBRK, then TIOCCBRK), as a host program that resets a
// board by a break would. Exit status 1, with the reason, when the port or
// its driver refuses.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: send-break PORT MS\n");
        return 2;
    }
    const int fd = open(argv[1], O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        std::perror(argv[1]);
        return 1;
    }
    if (ioctl(fd, TIOCSBRK) != 0) {
        std::perror("TIOCSBRK");
        return 1;
    }
    usleep(static_cast<useconds_t>(std::atoi(argv[2])) * 1000);
    if (ioctl(fd, TIOCCBRK) != 0) {
        std::perror("TIOCCBRK");
        return 1;
    }
    close(fd);
    return 0;
}
