#include "text/LineBuf.h"

#include "text/TextAlloc.h"

namespace {

constexpr uint8_t kCr = 0x0D;
constexpr uint8_t kLf = 0x0A;

}  // namespace

LineBuf::LineBuf(int32_t size) : ring(size) {}

LineBuf::~LineBuf() {
    TextRelease(line);
}

int32_t LineBuf::PutChar(char c) {
    const auto byte = static_cast<uint8_t>(c);
    if (byte == 0) {
        return lineReady;
    }
    if (byte != kCr && byte != kLf) {
        lastEnd = 0;
        if (ring.Count() >= kMaxLineBytes) {
            CompleteLine(false);  // over-long: ended here as if by a line end
        }
        ring.Put(byte);
        return lineReady;
    }
    if (lastEnd != 0 && lastEnd != byte) {
        lastEnd = 0;  // second half of a CR LF or LF CR pair
        return lineReady;
    }
    lastEnd = byte;
    ring.Put(byte);
    CompleteLine(true);
    return lineReady;
}

// Moves the whole ring, line end included, into a new line text. While a
// peer keeps sending without a line end the ring keeps its storage, whole
// (reused for every cut, so memory stays flat: a ring that shrank as it was
// drained would grow back in small steps past the line text allocated beside
// it, moving each time and leaving the heap riddled with holes); a real line
// end gives it back.
void LineBuf::CompleteLine(bool lineEnded) {
    const int32_t n = ring.Count();
    TextRelease(line);
    line = static_cast<char*>(TextAllocate(static_cast<size_t>(n) + 1));
    if (line == nullptr) {
        return;
    }
    if (lineEnded) {
        for (int32_t i = 0; i < n; ++i) {
            line[i] = static_cast<char>(ring.Get());
        }
    } else {
        ring.Take(reinterpret_cast<uint8_t*>(line), n);
    }
    line[n] = '\0';
    lineReady = 1;
    if (lineEnded || ring.Capacity() == 0) {
        ring.ReleaseSpare();
    }
}

int32_t LineBuf::PutString(const char* s) {
    int32_t ready = 0;
    for (; s != nullptr && *s != '\0'; ++s) {
        ready = PutChar(*s);
    }
    return ready;
}

char* LineBuf::LineText() {
    if (line == nullptr) {
        noLine[0] = '\0';
        return noLine;
    }
    return line;
}

char* LineBuf::GetLine() {
    char* text = LineText();
    size_t end = 0;
    for (size_t i = 0; text[i] != '\0'; ++i) {
        if (text[i] != '\r' && text[i] != '\n') {
            end = i + 1;
        }
    }
    text[end] = '\0';
    lineReady = 0;
    return text;
}

char* LineBuf::LastLine() {
    lineReady = 0;
    return LineText();
}

void LineBuf::Reset() {
    ring.Reset();
    TextRelease(line);
    line = nullptr;
    lineReady = 0;
    lastEnd = 0;
}
