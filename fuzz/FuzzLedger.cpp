// The ledger file's reader fed arbitrary files: it either refuses a line
// (ProgramError, caught here, naming the ledger and a line within the file)
// or takes every finished line, and then the values it found are exactly
// those its lines name, the largest is the largest of them, and an
// unfinished last line is said only when the file does not end in a line
// end. The input's first byte picks the format.

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/stamp/FileLedger.h"
#include "errors/ProgramError.h"
#include "fuzz/Check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const char* const formats[] = {"0:u16le", "0:u64be", "0:ascii:3", "0:bytes:2"};
    StampPlan plan;
    std::string why;
    ParseStampSpec(formats[data[0] % 4], plan.spec, why);
    plan.ledger = "ledger.jsonl";
    const std::string content(reinterpret_cast<const char*>(data) + 1, size - 1);
    LedgerValues values;
    bool unfinished = false;
    size_t finished = 0;
    try {
        finished = FileLedger::ReadLedger(content, plan, values, unfinished);
    } catch (const ProgramError& error) {
        const std::string message = error.what();
        FUZZ_CHECK(message.rfind("ledger.jsonl:", 0) == 0, "refusal without its place");
        return 0;
    }
    FUZZ_CHECK(unfinished == (!content.empty() && content.back() != '\n'), "unfinished line");
    FUZZ_CHECK(finished == (unfinished ? content.rfind('\n') + 1 : content.size()),
               "finished length");
    if (content.rfind('\n') == std::string::npos) {
        FUZZ_CHECK(!values.largest, "a value without a finished line");
    }
    for (const auto& counter : values.named) {
        StampValue value{counter};
        FUZZ_CHECK(StampValueFits(plan.spec.format, value), "a value that does not fit");
        FUZZ_CHECK(values.largest && !(*values.largest < value), "largest");
    }
    return 0;
}
