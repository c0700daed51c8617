// The key filter of console mode fed arbitrary terminal input, checked
// against a model that collects each escape sequence whole and then decides:
// a key sequence (ESC [ or ESC O, parameters, a final byte; ESC [ [ and one
// more byte) gives nothing, ESC with anything else gives 27 and that key, the
// erase byte gives 8, a zero byte nothing, any other byte itself. A sequence
// broken by a byte it cannot hold is dropped and the byte taken as typed; one
// of 32 bytes is dropped. The first input byte is the erase byte; the input
// ends with the wait for a lone ESC expiring.

#include <string>

#include "fuzz/Check.h"
#include "serial/TerminalKeys.h"

namespace {

class KeyModel {
  public:
    explicit KeyModel(uint8_t eraseByte) : erase(eraseByte) {}

    void Take(uint8_t byte) {
        if (sequence.empty()) {
            TakeKey(byte);
            return;
        }
        if (sequence.size() == 1) {  // ESC so far
            if (byte == '[' || byte == 'O') {
                sequence.push_back(static_cast<char>(byte));
                return;
            }
            sequence.clear();
            out.push_back(27);
            TakeKey(byte);
            return;
        }
        sequence.push_back(static_cast<char>(byte));
        const bool csi = sequence[1] == '[';
        const bool bracketed = csi && sequence.size() >= 3 && sequence[2] == '[';
        if (bracketed && sequence.size() == 3) {
            return;
        }
        if (byte >= 0x40 && byte <= 0x7E) {
            sequence.clear();  // final byte: the key is complete and dropped
            return;
        }
        const bool holds =
            !bracketed && (csi ? (byte >= 0x20 && byte <= 0x3F) : (byte >= 0x30 && byte <= 0x3F));
        if (!holds) {
            sequence.clear();
            TakeKey(byte);
            return;
        }
        if (sequence.size() >= 32) {
            sequence.clear();
        }
    }
    void Expire() {
        if (sequence.size() == 1) {
            out.push_back(27);
        }
        sequence.clear();
    }
    std::string out;

  private:
    void TakeKey(uint8_t byte) {
        if (byte == 27) {
            sequence.assign(1, '\x1b');
        } else if (byte == erase) {
            out.push_back(8);
        } else if (byte != 0) {
            out.push_back(static_cast<char>(byte));
        }
    }
    uint8_t erase;
    std::string sequence;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    TerminalKeys keys(data[0]);
    KeyModel model(data[0]);
    std::string out;
    for (size_t i = 1; i < size; ++i) {
        keys.Feed(data[i], out);
        model.Take(data[i]);
        FUZZ_CHECK(out == model.out, "keys differ after byte " << i);
    }
    keys.Expire(out);
    model.Expire();
    FUZZ_CHECK(out == model.out, "keys differ after the wait expired");
    FUZZ_CHECK(!keys.Pending(), "still pending after the wait expired");
    return 0;
}
