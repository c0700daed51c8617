#include <errno.h>
#include <unistd.h>

#include <cstdio>

#include "text/Shown.h"

bool WriteWholeLine(const std::string& line) {
    std::fflush(stdout);
    ssize_t written = -1;
    do {
        written = write(STDOUT_FILENO, line.data(), line.size());
    } while (written < 0 && errno == EINTR);
    return written == static_cast<ssize_t>(line.size());
}
