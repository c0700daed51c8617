#include "text/TextAlloc.h"

#include <cstdlib>

namespace {

void* CAllocate(size_t bytes) {
    return std::malloc(bytes);
}
void* CReallocate(void* block, size_t bytes) {
    return std::realloc(block, bytes);
}
void CRelease(void* block) {
    std::free(block);
}

TextAllocHooks installed = {CAllocate, CReallocate, CRelease};

}  // namespace

TextAllocHooks DefaultTextAllocHooks() {
    return {CAllocate, CReallocate, CRelease};
}

TextAllocHooks SetTextAllocHooks(const TextAllocHooks& hooks) {
    TextAllocHooks previous = installed;
    installed = hooks;
    return previous;
}

void* TextAllocate(size_t bytes) {
    return installed.allocate(bytes);
}

void* TextReallocate(void* block, size_t bytes) {
    return installed.reallocate(block, bytes);
}

void TextRelease(void* block) {
    installed.release(block);
}
