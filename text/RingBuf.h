#pragma once
// RingBuf: a circular byte buffer.
//
// A growable ring (size 0) starts at 100 bytes and grows by 100 bytes in the
// step in which it fills up, so it is never left full. When its read position
// wraps to the start it shrinks to the smallest multiple of 100 above its
// content (never below 100). A fixed ring (size > 0) keeps its capacity and
// drops the oldest byte when full, so it holds at most size - 1 bytes.
//
// Storage comes from the C allocator through TextAlloc. When it cannot be had
// (at construction, at Reset, or when growing) the ring is left without
// storage: Capacity() is 0, Put discards, Get returns 0, Count() is 0. Only
// Reset gives such a ring storage again. A failed shrink keeps the larger
// storage and loses nothing. A negative size gives a ring without storage.

#include <cstdint>

class RingBuf {
  public:
    // Growth and shrink step, and the initial capacity of a growable ring.
    static constexpr int32_t kStepBytes = 100;

    explicit RingBuf(int32_t size);
    ~RingBuf();
    RingBuf(const RingBuf&) = delete;
    RingBuf& operator=(const RingBuf&) = delete;

    // Stores one byte; grows a full growable ring, or drops the oldest byte of
    // a full fixed ring.
    void Put(uint8_t byte);
    // Removes and returns the oldest byte; callers take exactly Count() bytes.
    // Taking the byte at the end of the storage may shrink a growable ring.
    uint8_t Get();
    // Removes the oldest count bytes (at most Count()) into out, in order.
    // Unlike Get it never shrinks the ring: for storage that is about to be
    // filled again, where shrinking and growing back would only move it.
    void Take(uint8_t* out, int32_t count);
    // The number of bytes held.
    int32_t Count() const;
    // Discards the content and returns to the initial capacity (100 bytes, or
    // the fixed size), allocating fresh storage.
    void Reset();
    // An empty growable ring that has grown, or a ring that has lost its
    // storage, returns to its initial capacity; otherwise nothing changes.
    void ReleaseSpare();

    int32_t Capacity() const { return capacity; }

  private:
    int32_t InitialCapacity() const;
    void Allocate();
    void Grow();
    void ShrinkAfterWrap();

    uint8_t* data = nullptr;
    int32_t capacity = 0;
    int32_t readIndex = 0;
    int32_t writeIndex = 0;
    int32_t fixedSize = 0;
};
