#pragma once
// AllocSpy: replaces the text allocator for its lifetime, records what is
// asked of it and fails the kinds of calls that a test switches off.

#include <cstddef>
#include <vector>

#include "text/TextAlloc.h"

class AllocSpy {
  public:
    AllocSpy();
    ~AllocSpy();
    AllocSpy(const AllocSpy&) = delete;
    AllocSpy& operator=(const AllocSpy&) = delete;

    bool failAllocate = false;
    bool failReallocate = false;
    // Sizes of every reallocation asked for (failed ones included).
    std::vector<size_t> reallocSizes;
    int failedCalls = 0;

    // Blocks handed out and not yet released.
    size_t LiveBlocks() const;

  private:
    TextAllocHooks previous;
};
