#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "text/AppendFile.h"
#include "text/FolderSync.h"

namespace {

int Fd(std::intptr_t handle) {
    return static_cast<int>(handle);
}

int OpenRetrying(const char* path, int flags) {
    int fd = -1;
    do {
        fd = open(path, flags | O_APPEND | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

bool TakeTurn(int fd) {
    int result = -1;
    do {
        result = flock(fd, LOCK_EX);
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

// The file's last byte is not a line end. A file that cannot be read (opened
// write-only) is taken as whole.
bool EndsTorn(int fd) {
    struct stat status;
    if (fstat(fd, &status) != 0 || status.st_size == 0) {
        return false;
    }
    char last = '\n';
    ssize_t got = -1;
    do {
        got = pread(fd, &last, 1, status.st_size - 1);
    } while (got < 0 && errno == EINTR);
    return got == 1 && last != '\n';
}

bool WriteOnce(int fd, const std::string& text) {
    ssize_t written = -1;
    do {
        written = write(fd, text.data(), text.size());
    } while (written < 0 && errno == EINTR);
    return written == static_cast<ssize_t>(text.size());
}

// A file that cannot be forced (a terminal, a pipe: EINVAL) has nothing on
// a disk to force.
bool ForceToDisk(int fd) {
    int synced = -1;
    do {
        synced = fsync(fd);
    } while (synced != 0 && errno == EINTR);
    return synced == 0 || errno == EINVAL;
}

}  // namespace

AppendFile::~AppendFile() {
    if (handle >= 0) {
        close(Fd(handle));
    }
}

bool AppendFile::Open(const char* filePath) {
    path = filePath;
    // Read access lets a record see a torn last line; a file that may be
    // written but not read is appended to all the same.
    int fd = OpenRetrying(filePath, O_RDWR | O_CREAT | O_EXCL);
    created = fd >= 0;
    if (fd < 0 && errno == EEXIST) {
        fd = OpenRetrying(filePath, O_RDWR);
    }
    if (fd < 0 && errno == EACCES) {
        fd = OpenRetrying(filePath, O_WRONLY | O_CREAT);
    }
    handle = fd;
    return fd >= 0;
}

bool AppendFile::Append(const std::string& text) {
    return handle >= 0 && WriteOnce(Fd(handle), text);
}

bool AppendFile::AppendRecord(const std::string& text) {
    if (handle < 0) {
        return false;
    }
    const int fd = Fd(handle);
    // A file system without locks leaves the plain append.
    const bool locked = TakeTurn(fd);
    const bool written = WriteOnce(fd, EndsTorn(fd) ? "\n" + text : text);
    if (locked) {
        flock(fd, LOCK_UN);
    }
    if (!written || !ForceToDisk(fd)) {
        return false;
    }
    if (created) {
        SyncFolderOf(path.c_str());
        created = false;
    }
    return true;
}
