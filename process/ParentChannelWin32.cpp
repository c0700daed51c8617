#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "process/ParentChannel.h"

struct ParentChannel::Impl {
    HANDLE handle = nullptr;
};

ParentChannel::ParentChannel(const std::string& number) : impl(std::make_unique<Impl>()) {
    // The parent reads this run's standard output and places the events by
    // the count of bytes shown before each: the output goes byte for byte,
    // without the C runtime's CR before each LF, which no count includes.
    std::fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
    char* end = nullptr;
    const unsigned long long value = std::strtoull(number.c_str(), &end, 10);
    if (!number.empty() && *end == '\0' && value != 0) {
        impl->handle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value));
    }
}

ParentChannel::~ParentChannel() {
    if (impl->handle != nullptr) {
        CloseHandle(impl->handle);
    }
}

bool ParentChannel::Write(const std::string& text) {
    size_t done = 0;
    while (impl->handle != nullptr && done < text.size()) {
        DWORD wrote = 0;
        if (!WriteFile(impl->handle, text.data() + done, static_cast<DWORD>(text.size() - done),
                       &wrote, nullptr) ||
            wrote == 0) {
            CloseHandle(impl->handle);
            impl->handle = nullptr;
            return false;
        }
        done += wrote;
    }
    return impl->handle != nullptr;
}
