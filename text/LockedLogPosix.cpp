#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstring>

#include "text/FolderSync.h"
#include "text/LockedLog.h"

namespace {

int Fd(std::intptr_t handle) {
    return static_cast<int>(handle);
}

}  // namespace

LockedLog::~LockedLog() {
    Unlock();
    if (handle >= 0) {
        close(Fd(handle));
    }
}

bool LockedLog::Fail(const char* what) {
    error = std::string(what) + ": " + std::strerror(errno);
    return false;
}

bool LockedLog::Open(const char* path) {
    int fd = -1;
    bool created = false;
    do {
        fd = open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        created = fd >= 0;
        if (fd < 0 && errno == EEXIST) {
            fd = open(path, O_RDWR | O_CLOEXEC);
        }
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return Fail("cannot open");
    }
    handle = fd;
    if (created) {
        fsync(fd);
        SyncFolderOf(path);
    }
    return true;
}

bool LockedLog::OpenForReading(const char* path) {
    int fd = -1;
    do {
        fd = open(path, O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return Fail("cannot open");
    }
    handle = fd;
    return true;
}

bool LockedLog::Lock() {
    int result = -1;
    do {
        result = flock(Fd(handle), LOCK_EX);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        return Fail("cannot lock");
    }
    locked = true;
    return true;
}

void LockedLog::Unlock() {
    if (locked) {
        flock(Fd(handle), LOCK_UN);
        locked = false;
    }
}

bool LockedLog::ReadAll(std::string& content) {
    content.clear();
    char block[65536];
    for (off_t at = 0;;) {
        const ssize_t got = pread(Fd(handle), block, sizeof block, at);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return Fail("cannot read");
        }
        if (got == 0) {
            return true;
        }
        content.append(block, static_cast<size_t>(got));
        at += got;
    }
}

bool LockedLog::CutTo(int64_t length) {
    if (ftruncate(Fd(handle), static_cast<off_t>(length)) != 0) {
        return Fail("cannot cut");
    }
    return true;
}

bool LockedLog::Append(const std::string& text) {
    const off_t start = lseek(Fd(handle), 0, SEEK_END);
    if (start < 0) {
        return Fail("cannot write");
    }
    off_t at = start;
    for (size_t done = 0; done < text.size();) {
        const ssize_t wrote = pwrite(Fd(handle), text.data() + done, text.size() - done, at);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            return CutBack(start, "cannot write");
        }
        done += static_cast<size_t>(wrote);
        at += wrote;
    }
    int synced = -1;
    do {
        synced = fsync(Fd(handle));
    } while (synced != 0 && errno == EINTR);
    return synced == 0 || CutBack(start, "cannot force to disk");
}

bool LockedLog::CutBack(int64_t length, const char* what) {
    Fail(what);
    while (ftruncate(Fd(handle), static_cast<off_t>(length)) != 0 && errno == EINTR) {
    }
    return false;
}
