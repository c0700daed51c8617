#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "text/FolderSync.h"

void SyncFolderOf(const char* path) {
    std::string folder(path);
    const size_t slash = folder.rfind('/');
    folder = slash == std::string::npos ? "." : slash == 0 ? "/" : folder.substr(0, slash);
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}
