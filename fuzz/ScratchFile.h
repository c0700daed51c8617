#pragma once
// The file a fuzz target writes each input to: in memory where the system
// offers it, one per target and process.

#include <unistd.h>

#include <cstdio>
#include <string>

#include "fuzz/Check.h"

inline std::string ScratchPath(const char* target) {
    return std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/vantoir-fuzz-" +
           target + "-" + std::to_string(getpid());
}

inline void WriteScratch(const std::string& path, const std::string& content) {
    std::FILE* out = std::fopen(path.c_str(), "wb");
    FUZZ_CHECK(out != nullptr, "scratch file");
    std::fwrite(content.data(), 1, content.size(), out);
    std::fclose(out);
}
