#include "AllocSpy.h"

#include <cstdlib>
#include <set>

namespace {

AllocSpy* active = nullptr;
std::set<void*> live;

void* SpyAllocate(size_t bytes) {
    if (active->failAllocate) {
        ++active->failedCalls;
        return nullptr;
    }
    void* block = std::malloc(bytes == 0 ? 1 : bytes);
    live.insert(block);
    return block;
}

void* SpyReallocate(void* block, size_t bytes) {
    active->reallocSizes.push_back(bytes);
    if (active->failReallocate) {
        ++active->failedCalls;
        return nullptr;
    }
    void* moved = std::realloc(block, bytes == 0 ? 1 : bytes);
    live.erase(block);
    live.insert(moved);
    return moved;
}

void SpyRelease(void* block) {
    if (block != nullptr) {
        live.erase(block);
    }
    std::free(block);
}

}  // namespace

AllocSpy::AllocSpy() {
    active = this;
    live.clear();
    previous = SetTextAllocHooks({SpyAllocate, SpyReallocate, SpyRelease});
}

AllocSpy::~AllocSpy() {
    SetTextAllocHooks(previous);
    active = nullptr;
}

size_t AllocSpy::LiveBlocks() const {
    return live.size();
}
