#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include "text/AppendFile.h"

AppendFile::~AppendFile() {
    if (handle >= 0) {
        close(static_cast<int>(handle));
    }
}

bool AppendFile::Open(const char* path) {
    int fd = -1;
    do {
        fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    handle = fd;
    return fd >= 0;
}

bool AppendFile::Append(const std::string& text) {
    if (handle < 0) {
        return false;
    }
    ssize_t written = -1;
    do {
        written = write(static_cast<int>(handle), text.data(), text.size());
    } while (written < 0 && errno == EINTR);
    return written == static_cast<ssize_t>(text.size());
}
