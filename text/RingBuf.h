#pragma once
// RingBuf: a circular byte buffer.
//
// A growable ring (size 0) starts at 100 bytes, grows by 100 bytes in the
// step in which it fills up and shrinks back to the smallest multiple of 100
// above its content when its read position wraps to the start. A fixed ring
// (size > 0) keeps its capacity and drops the oldest byte when full, so it
// holds at most size - 1 bytes. Storage comes from the C allocator; when it
// cannot be had the ring has capacity 0 and discards everything.

#include <cstdint>

class RingBuf {
public:
    explicit RingBuf(int32_t size);
    ~RingBuf();
    RingBuf(const RingBuf&) = delete;
    RingBuf& operator=(const RingBuf&) = delete;

    void Put(uint8_t byte);
    // Removes and returns the oldest byte; callers take exactly Count() bytes.
    uint8_t Get();
    int32_t Count() const;
    // Discards the content and returns to the initial capacity.
    void Reset();

    int32_t Capacity() const { return capacity; }

private:
    uint8_t* data = nullptr;
    int32_t capacity = 0;
    int32_t readIndex = 0;
    int32_t writeIndex = 0;
    int32_t fixedSize = 0;
};
