#include "text/RingBuf.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "text/TextAlloc.h"

RingBuf::RingBuf(int32_t size) : fixedSize(size) {
    Allocate();
}

RingBuf::~RingBuf() {
    TextRelease(data);
}

int32_t RingBuf::InitialCapacity() const {
    if (fixedSize == 0) {
        return kStepBytes;
    }
    return fixedSize > 0 ? fixedSize : 0;
}

void RingBuf::Allocate() {
    readIndex = 0;
    writeIndex = 0;
    capacity = InitialCapacity();
    data = capacity > 0 ? static_cast<uint8_t*>(TextAllocate(capacity)) : nullptr;
    if (data == nullptr) {
        capacity = 0;
    }
}

void RingBuf::Put(uint8_t byte) {
    if (capacity == 0) {
        return;
    }
    data[writeIndex] = byte;
    writeIndex = (writeIndex + 1) % capacity;
    if (writeIndex != readIndex) {
        return;
    }
    if (fixedSize != 0) {
        readIndex = (readIndex + 1) % capacity;
        return;
    }
    Grow();
}

// The ring is full (writeIndex == readIndex). The bytes from readIndex to the
// old end move up by one step, which opens the new space between writeIndex
// and readIndex and keeps the bytes in order.
void RingBuf::Grow() {
    void* grown = nullptr;
    if (capacity <= std::numeric_limits<int32_t>::max() - kStepBytes) {
        grown = TextReallocate(data, capacity + kStepBytes);
    }
    if (grown == nullptr) {
        TextRelease(data);
        data = nullptr;
        capacity = 0;
        readIndex = 0;
        writeIndex = 0;
        return;
    }
    data = static_cast<uint8_t*>(grown);
    std::memmove(data + readIndex + kStepBytes, data + readIndex, capacity - readIndex);
    readIndex += kStepBytes;
    capacity += kStepBytes;
}

uint8_t RingBuf::Get() {
    if (capacity == 0) {
        return 0;
    }
    uint8_t byte = data[readIndex];
    readIndex = (readIndex + 1) % capacity;
    if (readIndex == 0 && fixedSize == 0 && capacity > kStepBytes) {
        ShrinkAfterWrap();
    }
    return byte;
}

void RingBuf::Take(uint8_t* out, int32_t count) {
    count = std::min(count, Count());
    if (count <= 0) {
        return;
    }
    const int32_t first = std::min(count, capacity - readIndex);
    std::memcpy(out, data + readIndex, static_cast<size_t>(first));
    std::memcpy(out + first, data, static_cast<size_t>(count - first));
    readIndex = (readIndex + count) % capacity;
}

// The held bytes now lie at 0 .. writeIndex - 1.
void RingBuf::ShrinkAfterWrap() {
    int32_t smaller = (writeIndex / kStepBytes + 1) * kStepBytes;
    if (smaller >= capacity) {
        return;
    }
    void* shrunk = TextReallocate(data, smaller);
    if (shrunk == nullptr) {
        return;
    }
    data = static_cast<uint8_t*>(shrunk);
    capacity = smaller;
}

int32_t RingBuf::Count() const {
    if (capacity == 0) {
        return 0;
    }
    return (writeIndex - readIndex + capacity) % capacity;
}

void RingBuf::Reset() {
    TextRelease(data);
    data = nullptr;
    Allocate();
}

void RingBuf::ReleaseSpare() {
    const bool grownAndEmpty = fixedSize == 0 && capacity > kStepBytes && Count() == 0;
    if (capacity == 0 || grownAndEmpty) {
        Reset();
    }
}
