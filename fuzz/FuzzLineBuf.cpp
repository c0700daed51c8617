// The line buffer fed arbitrary byte streams, checked against model::Lines:
// the result of every byte, every line taken (trimmed or as it stands), and
// that no allocation grows beyond one longest line.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/Check.h"
#include "fuzz/Models.h"
#include "text/LineBuf.h"
#include "text/TextAlloc.h"

namespace {

size_t largestRequest = 0;

void* Allocate(size_t bytes) {
    largestRequest = bytes > largestRequest ? bytes : largestRequest;
    return std::malloc(bytes);
}

void* Reallocate(void* block, size_t bytes) {
    largestRequest = bytes > largestRequest ? bytes : largestRequest;
    return std::realloc(block, bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const TextAllocHooks kept = SetTextAllocHooks({Allocate, Reallocate, std::free});
    (void)kept;
    if (size == 0) {
        return 0;
    }
    // The first byte says how lines are taken: 0 by GetLine, 1 by LastLine,
    // 2 only every other line (a line completing over an untaken one); 0xFF
    // also repeats the rest to beyond two longest lines (rarely: such an
    // input costs as much as a thousand short ones).
    const int taking = (data[0] & 0x7F) % 3;
    std::basic_string<uint8_t> stream(data, size);
    while (data[0] == 0xFF && size > 1 && stream.size() < 2 * model::Lines::kLongest + 10) {
        stream.append(data + 1, size - 1);
    }
    largestRequest = 0;
    LineBuf buffer;
    model::Lines lines;
    bool ready = false;
    int completed = 0;
    for (size_t i = 1; i < stream.size(); ++i) {
        ready = lines.Feed(stream[i]) || ready;
        const int32_t result = buffer.PutChar(static_cast<char>(stream[i]));
        FUZZ_CHECK(result == (ready ? 1 : 0), "PutChar result at byte " << i);
        if (!ready) {
            continue;
        }
        if (taking == 2 && (++completed % 2) == 1) {
            continue;
        }
        if (taking == 1) {
            FUZZ_CHECK(std::string(buffer.LastLine()) == lines.Completed(), "LastLine at " << i);
        } else {
            FUZZ_CHECK(std::string(buffer.GetLine()) == lines.Trimmed(), "GetLine at " << i);
        }
        ready = false;
    }
    const size_t bound = model::Lines::kLongest + 2 * 100 + 1;
    FUZZ_CHECK(largestRequest <= bound, "allocation of " << largestRequest << " bytes");
    return 0;
}
