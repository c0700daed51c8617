// kelvor-hexgen: writes a valid Intel-HEX file of made-up data, for trying a
// download without a real program at hand.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "sim/HexRecord.h"

namespace {

constexpr int kDefaultBytesPerRecord = 16;
constexpr int kMaxRecords = 10000000;
constexpr int kMaxBytesPerRecord = 255;

const char* const kUsage =
    "Usage: kelvor-hexgen RECORDS [BYTES-PER-RECORD [SEED]] [--crlf]\n"
    "Writes an Intel-HEX text of RECORDS record lines to standard output: data\n"
    "records of BYTES-PER-RECORD (default 16) made-up bytes from address 0 (the\n"
    "same for the same SEED), an extended-address record at each 64 KiB, and the\n"
    "end-of-file record as the last line. Lines end in LF, or CR LF with --crlf.\n";

bool ParseNumber(const char* text, long low, long high, long& value) {
    char* end = nullptr;
    value = std::strtol(text, &end, 10);
    return *text != '\0' && *end == '\0' && value >= low && value <= high;
}

}  // namespace

int main(int argumentCount, char** arguments) {
    bool crlf = false;
    long numbers[3] = {0, kDefaultBytesPerRecord, 1};
    long limits[3] = {kMaxRecords, kMaxBytesPerRecord, 0xFFFFFFFFL};
    int given = 0;
    for (int i = 1; i < argumentCount; ++i) {
        std::string arg = arguments[i];
        if (arg == "--crlf") {
            crlf = true;
        } else if (given < 3 &&
                   ParseNumber(arguments[i], given == 2 ? 0 : 1, limits[given], numbers[given])) {
            ++given;
        } else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    if (given == 0) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    std::string text = sim::MakeHexFile(static_cast<int>(numbers[0]), static_cast<int>(numbers[1]),
                                        static_cast<uint32_t>(numbers[2]));
    for (char c : text) {
        if (c != '\r' || crlf) {
            std::putchar(c);
        }
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
