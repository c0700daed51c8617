#pragma once
// Standard output redirected into an anonymous file for the life of the fuzz
// process; Take() returns what was printed since the last Take().

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <string>

class StdoutCapture {
  public:
    StdoutCapture() {
        std::fflush(stdout);
        fd = memfd_create("vantoir-fuzz-stdout", 0);
        if (fd >= 0) {
            dup2(fd, 1);
        }
    }
    std::string Take() {
        std::fflush(stdout);
        std::string text;
        char chunk[4096];
        lseek(fd, 0, SEEK_SET);
        for (ssize_t n; (n = read(fd, chunk, sizeof chunk)) > 0;) {
            text.append(chunk, static_cast<size_t>(n));
        }
        if (ftruncate(fd, 0) != 0) {
            text += "<truncate failed>";
        }
        lseek(1, 0, SEEK_SET);
        return text;
    }

  private:
    int fd = -1;
};
