#pragma once
// TextAlloc: the C allocator (malloc, realloc, free) behind RingBuf and
// LineBuf, reached through hooks that a test can replace to make an
// allocation fail.
//
// The hooks are process-wide and not synchronised: replace them only while no
// RingBuf or LineBuf is in use on another thread.

#include <cstddef>

struct TextAllocHooks {
    void* (*allocate)(size_t bytes);                 // as malloc
    void* (*reallocate)(void* block, size_t bytes);  // as realloc
    void (*release)(void* block);                    // as free
};

// The C allocator's malloc, realloc and free.
TextAllocHooks DefaultTextAllocHooks();

// Installs hooks and returns the ones they replace. Every member must be set.
TextAllocHooks SetTextAllocHooks(const TextAllocHooks& hooks);

// Calls through the installed hooks. On failure, TextAllocate and
// TextReallocate return nullptr; TextReallocate then leaves block untouched.
void* TextAllocate(size_t bytes);
void* TextReallocate(void* block, size_t bytes);
void TextRelease(void* block);
