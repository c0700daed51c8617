#include "tests/support/FullDisk.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace harness {

namespace {

// The file is this many pages long, its room in the last one.
constexpr size_t kPages = 4;
// The tmpfs: the file's pages and room for the filler.
constexpr const char* kTmpfsOptions = "size=64k,mode=0755";

[[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error("FullDisk: " + what + ": " + std::strerror(errno));
}

// Writes zeros to a new file in folder until the disk takes no more.
void FillUp(const std::string& folder) {
    const int fd =
        open((folder + "/filler").c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        Fail("cannot make the filler");
    }
    const std::vector<char> block(4096, '\0');
    for (;;) {
        const ssize_t wrote = write(fd, block.data(), block.size());
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            break;
        }
    }
    const int why = errno;
    close(fd);
    if (why != ENOSPC) {
        errno = why;
        Fail("filling the tmpfs");
    }
}

}  // namespace

FullDisk::FullDisk(const std::string& fileName, const std::function<std::string(size_t)>& contentOf,
                   size_t room) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    if (room >= page) {
        throw std::runtime_error("FullDisk: the room must lie within one page");
    }
    std::string pattern = std::filesystem::temp_directory_path().string() + "/vantoir-full-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) {
        Fail("mkdtemp");
    }
    folder = pattern;
    mounted = geteuid() == 0 && mount("tmpfs", folder.c_str(), "tmpfs", 0, kTmpfsOptions) == 0;
    path = folder + "/" + fileName;
    content = contentOf(kPages * page - room);
    std::ofstream file(path, std::ios::binary);
    if (!(file << content) || !file.flush()) {
        Fail("writing " + path);
    }
    file.close();
    if (mounted) {
        FillUp(folder);
    } else {
        limit = static_cast<int64_t>(content.size() + room);
    }
}

FullDisk::~FullDisk() {
    if (mounted) {
        umount2(folder.c_str(), MNT_DETACH);
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

void FullDisk::Apply(ProcessOptions& options) const {
    options.fileSizeLimit = limit;
}

}  // namespace harness
