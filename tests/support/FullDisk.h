#pragma once
// FullDisk: a file on a disk that is all but full: it can grow by so many
// bytes more (its room), and a write past that fails part-way, as on a
// full disk: the bytes that fit are written, the next write fails.
//
// Run as root, the file is on a small tmpfs of its own, mounted in a fresh
// temporary folder and then filled up with a filler file, so that only the
// unused tail of the file's last page is left: the program's write fails
// with "No space left on device". Where no tmpfs can be mounted (not root,
// or a container that forbids it), the file is in an ordinary folder and
// the program is started with a limit on the size of the files it writes
// (RLIMIT_FSIZE at the file's size plus its room, SIGXFSZ ignored, through
// ProcessOptions::fileSizeLimit): its write fails part-way the same, with
// "File too large". Either way the test runs; the limit applies to every
// file the program writes, so other files of the run stay well below it.
//
// The file is made a few pages long (contentOf gives its content of the
// length asked for), so that its room lies in its last page.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "tests/support/Harness.h"

namespace harness {

class FullDisk {
  public:
    // contentOf(length): the file's first content, exactly length bytes.
    FullDisk(const std::string& fileName, const std::function<std::string(size_t)>& contentOf,
             size_t room);
    // Unmounts the tmpfs, if any, and removes the folder.
    ~FullDisk();
    FullDisk(const FullDisk&) = delete;
    FullDisk& operator=(const FullDisk&) = delete;

    const std::string& Path() const { return path; }
    // The file's first content.
    const std::string& Content() const { return content; }
    // Gives options the file size limit when the disk is not a tmpfs.
    void Apply(ProcessOptions& options) const;
    // Whether the file is on a tmpfs of its own (else the limit stands in).
    bool OnTmpfs() const { return mounted; }

  private:
    std::string folder;
    std::string path;
    std::string content;
    bool mounted = false;
    int64_t limit = 0;
};

}  // namespace harness
