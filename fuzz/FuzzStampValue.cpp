// The stamp's field and value parsers fed arbitrary text: the input's first
// byte picks a format, the rest is parsed as a value of it, and as a whole
// "ADDRESS:FORMAT". Checked against the rules: an accepted value fits its
// field, shows as a text that parses back to the same value, becomes exactly
// the field's bytes, and counting on from it stays in the field or says it
// cannot; an accepted spec's field lies below 4 GiB.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/Check.h"
#include "text/StampField.h"

namespace {

const char* const kFormats[] = {"0:u16le", "0:u16be",  "0:u32le",   "0:u32be",    "0:u64le",
                                "0:u64be", "0:ascii:1", "0:ascii:5", "0:ascii:25", "0:bytes:1",
                                "0:bytes:6", "0:bytes:16"};

void CheckValue(const StampFormat& format, const std::string& text) {
    StampValue value;
    std::string why;
    if (!ParseStampValue(format, text.c_str(), value, why)) {
        FUZZ_CHECK(!why.empty(), "a refusal without a reason");
        return;
    }
    FUZZ_CHECK(StampValueFits(format, value), "accepted but does not fit: " << text);
    FUZZ_CHECK(value.counter.size() == format.CounterBytes(), "counter width");
    const std::string shown = StampValueText(format, value);
    StampValue again;
    FUZZ_CHECK(ParseStampValue(format, shown.c_str(), again, why) && again == value,
               "shown as " << shown << ", which does not parse back");
    FUZZ_CHECK(StampFieldBytes(format, value).size() == format.width, "field bytes");
    StampValue next;
    if (StampValueAdd(format, value, 1, next)) {
        FUZZ_CHECK(StampValueFits(format, next) && value < next, "counting on");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (text.find('\0') != std::string::npos) {
        return 0;
    }
    StampSpec chosen;
    std::string why;
    ParseStampSpec(kFormats[data[0] % (sizeof kFormats / sizeof kFormats[0])], chosen, why);
    CheckValue(chosen.format, text);

    StampSpec spec;
    if (ParseStampSpec(text.c_str(), spec, why)) {
        FUZZ_CHECK(uint64_t{spec.address} + spec.format.width - 1 <= 0xFFFFFFFFu,
                   "a field past 4 GiB: " << text);
        FUZZ_CHECK(spec.format.width >= 1 && spec.format.width <= kMaxStampWidth, "width");
    }
    return 0;
}
