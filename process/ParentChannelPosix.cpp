#include <errno.h>
#include <unistd.h>

#include <cstdlib>

#include "process/ParentChannel.h"

struct ParentChannel::Impl {
    int fd = -1;
};

ParentChannel::ParentChannel(const std::string& number) : impl(std::make_unique<Impl>()) {
    char* end = nullptr;
    const long fd = std::strtol(number.c_str(), &end, 10);
    if (!number.empty() && *end == '\0' && fd > 2 && fd < 65536) {
        impl->fd = static_cast<int>(fd);
    }
}

ParentChannel::~ParentChannel() {
    if (impl->fd >= 0) {
        close(impl->fd);
    }
}

bool ParentChannel::Write(const std::string& text) {
    size_t done = 0;
    while (impl->fd >= 0 && done < text.size()) {
        const ssize_t wrote = write(impl->fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            close(impl->fd);
            impl->fd = -1;
            return false;
        }
        done += static_cast<size_t>(wrote);
    }
    return impl->fd >= 0;
}
