// The stamp's field and values: what is accepted, what is refused, and the
// bytes a value becomes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text/StampField.h"

namespace {

StampSpec Spec(const char* text) {
    StampSpec spec;
    std::string why;
    EXPECT_TRUE(ParseStampSpec(text, spec, why)) << text << ": " << why;
    return spec;
}

StampValue Value(const StampFormat& format, const char* text) {
    StampValue value;
    std::string why;
    EXPECT_TRUE(ParseStampValue(format, text, value, why)) << text << ": " << why;
    return value;
}

std::string Refusal(const StampFormat& format, const char* text) {
    StampValue value;
    std::string why;
    EXPECT_FALSE(ParseStampValue(format, text, value, why)) << text;
    return why;
}

}  // namespace

TEST(StampSpec, TakesHexOrDecimalAddressesAndEveryFormat) {
    EXPECT_EQ(Spec("0x1F00:u32le").address, 0x1F00u);
    EXPECT_EQ(Spec("7936:u16be").address, 7936u);
    EXPECT_EQ(Spec("0X10:u64be").format.width, 8u);
    const StampSpec ascii = Spec("0:ascii:8");
    EXPECT_EQ(ascii.format.kind, StampKind::Ascii);
    EXPECT_EQ(ascii.format.width, 8u);
    EXPECT_EQ(ascii.format.Name(), "ascii:8");
    const StampSpec mac = Spec("0xFFFFFFFA:bytes:6");
    EXPECT_EQ(mac.format.Name(), "bytes:6");
    EXPECT_EQ(mac.LastAddress(), 0xFFFFFFFFu);
    EXPECT_EQ(Spec("4:u16le").format.Name(), "u16le");
}

TEST(StampSpec, RefusesWhatItCannotPlace) {
    for (const char* text : {"0x100", "0x100:u24le", "0x100:ascii:0", "0x100:bytes:65",
                             "0x100:bytes:", "0x100:ascii:x", "0x1G:u16le", ":u16le",
                             "0x100000000:u16le", "4294967296:u16le", "0xFFFFFFFF:u16le",
                             "-1:u16le", "0x:u16le", "0x100:U32LE"}) {
        StampSpec spec;
        std::string why;
        EXPECT_FALSE(ParseStampSpec(text, spec, why)) << text;
        EXPECT_FALSE(why.empty()) << text;
    }
}

TEST(StampValue, NumbersMustFitTheirField) {
    EXPECT_EQ(Value(Spec("0:u16le").format, "65535").Number(), 65535u);
    EXPECT_NE(Refusal(Spec("0:u16le").format, "65536").find("at most 65535"), std::string::npos);
    EXPECT_EQ(Value(Spec("0:u32be").format, "4294967295").Number(), 4294967295u);
    Refusal(Spec("0:u32be").format, "4294967296");
    EXPECT_EQ(Value(Spec("0:u64le").format, "18446744073709551615").Number(), UINT64_MAX);
    Refusal(Spec("0:u64le").format, "18446744073709551616");
    EXPECT_EQ(Value(Spec("0:ascii:3").format, "999").Number(), 999u);
    Refusal(Spec("0:ascii:3").format, "1000");
    for (const char* text : {"", "-1", "+1", "1 ", "0x10", "1e3"}) {
        Refusal(Spec("0:u32le").format, text);
    }
}

TEST(StampValue, BytesTakeEachSeparatorOrNoneAndExactlyTheirCount) {
    const StampFormat mac = Spec("0:bytes:6").format;
    const StampValue colons = Value(mac, "00:1A:2b:3C:4D:5E");
    EXPECT_EQ(Value(mac, "00-1A-2B-3C-4D-5E"), colons);
    EXPECT_EQ(Value(mac, "001A2B3C4D5E"), colons);
    EXPECT_EQ(StampValueText(mac, colons), "00:1A:2B:3C:4D:5E");
    EXPECT_NE(Refusal(mac, "00:1A:2B:3C:4D").find("5 bytes"), std::string::npos);
    for (const char* text : {"00:1A:2B:3C:4D:5E:", ":00:1A:2B:3C:4D:5E", "00:1A-2B:3C:4D:5E",
                             "00::1A:2B:3C:4D:5E", "0:1A:2B:3C:4D:5E", "001A2B3C4D5", "zz1A2B3C4D5E",
                             ""}) {
        Refusal(mac, text);
    }
}

TEST(StampValue, CountsWithCarryAndStopsAtTheFieldsEnd) {
    const StampFormat u16 = Spec("0:u16le").format;
    StampValue sum;
    ASSERT_TRUE(StampValueAdd(u16, Value(u16, "255"), 1, sum));
    EXPECT_EQ(sum.Number(), 256u);
    ASSERT_TRUE(StampValueAdd(u16, Value(u16, "65530"), 5, sum));
    EXPECT_EQ(sum.Number(), 65535u);
    EXPECT_FALSE(StampValueAdd(u16, Value(u16, "65535"), 1, sum));
    const StampFormat u64 = Spec("0:u64le").format;
    EXPECT_FALSE(StampValueAdd(u64, Value(u64, "18446744073709551615"), 1, sum));

    const StampFormat mac = Spec("0:bytes:6").format;
    ASSERT_TRUE(StampValueAdd(mac, Value(mac, "00:1A:2B:3C:FF:FF"), 1, sum));
    EXPECT_EQ(StampValueText(mac, sum), "00:1A:2B:3D:00:00");
    ASSERT_TRUE(StampValueAdd(mac, Value(mac, "00:00:00:00:00:FE"), 0x0102, sum));
    EXPECT_EQ(StampValueText(mac, sum), "00:00:00:00:02:00");
    EXPECT_FALSE(StampValueAdd(mac, Value(mac, "FF:FF:FF:FF:FF:FF"), 1, sum));
    EXPECT_TRUE(Value(mac, "00:00:00:00:01:00") < Value(mac, "00:00:00:01:00:00"));
}

TEST(StampValue, BecomesTheFieldsBytesInMemoryOrder) {
    const auto bytes = [](const char* spec, const char* value) {
        const StampFormat format = Spec(spec).format;
        return StampFieldBytes(format, Value(format, value));
    };
    EXPECT_EQ(bytes("0:u16le", "4660"), (std::vector<uint8_t>{0x34, 0x12}));
    EXPECT_EQ(bytes("0:u16be", "4660"), (std::vector<uint8_t>{0x12, 0x34}));
    EXPECT_EQ(bytes("0:u32le", "305419896"), (std::vector<uint8_t>{0x78, 0x56, 0x34, 0x12}));
    EXPECT_EQ(bytes("0:u32be", "305419896"), (std::vector<uint8_t>{0x12, 0x34, 0x56, 0x78}));
    EXPECT_EQ(bytes("0:u64be", "1"), (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 1}));
    EXPECT_EQ(bytes("0:u64le", "1"), (std::vector<uint8_t>{1, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(bytes("0:ascii:6", "1234"), (std::vector<uint8_t>{'0', '0', '1', '2', '3', '4'}));
    EXPECT_EQ(bytes("0:ascii:25", "7").size(), 25u);
    EXPECT_EQ(bytes("0:bytes:3", "0a-0b-0c"), (std::vector<uint8_t>{0x0A, 0x0B, 0x0C}));
}
