#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "text/FolderSync.h"
#include "text/SmallFile.h"

namespace {

bool Failed(const char* what, std::string& why) {
    why = std::string(what) + ": " + std::strerror(errno);
    return false;
}

}  // namespace

bool RewriteSmallFile(const char* path, const std::string& text, std::string& why) {
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    const bool created = fd >= 0;
    if (fd < 0 && errno == EEXIST) {
        fd = open(path, O_WRONLY | O_CLOEXEC);
    }
    if (fd < 0) {
        return Failed("cannot open", why);
    }
    ssize_t written = -1;
    do {
        written = pwrite(fd, text.data(), text.size(), 0);
    } while (written < 0 && errno == EINTR);
    bool ok = written == static_cast<ssize_t>(text.size()) || Failed("cannot write", why);
    ok = ok && (ftruncate(fd, static_cast<off_t>(text.size())) == 0 || Failed("cannot cut", why));
    // Its length changes only when it is made: forcing its data forces that too.
    ok = ok && (fdatasync(fd) == 0 || Failed("cannot force to disk", why));
    close(fd);
    if (ok && created) {
        SyncFolderOf(path);
    }
    return ok;
}
