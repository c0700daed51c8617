// The reply reading of the download session fed arbitrary board output
// through a port whose reads play it a byte at a time (each silence a read
// that times out, and silence for ever after), checked against model::Lines: every call ends at a
// "+" line (true, the line readable through LastLine) or at a silence
// (false); no line that does not begin with "+" is ever taken as an answer;
// every "-" line is shown, in order, without its "-"; in debug mode every
// line is echoed. Input: the first byte's low bit is the debug switch; then
// the board's bytes, where 0x00 is a silence and 0x00 0x00 a zero byte.

#include <string>

#include "fuzz/Check.h"
#include "fuzz/Models.h"
#include "fuzz/StdoutCapture.h"
#include "protocol/Downloader.h"
#include "serial/COMPort.h"
#include "tests/serial/FakePortPlatform.h"
#include "text/LineBuf.h"

namespace {

// A step of the board's output: a byte, or a silence.
struct Step {
    bool silence;
    char byte;
};

std::vector<Step> Script(const uint8_t* data, size_t size) {
    std::vector<Step> script;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] != 0) {
            script.push_back({false, static_cast<char>(data[i])});
        } else if (i + 1 < size && data[i + 1] == 0) {
            script.push_back({false, '\0'});
            ++i;
        } else {
            script.push_back({true, '\0'});
        }
    }
    return script;
}

// What the calls should return ("+text" for an answer, "silence") and print.
void Expect(const std::vector<Step>& script, bool debug, std::vector<std::string>& results,
            std::string& printed) {
    model::Lines lines;
    for (const Step& step : script) {
        if (step.silence) {
            results.push_back("silence");
            continue;
        }
        if (!lines.Feed(static_cast<uint8_t>(step.byte))) {
            continue;
        }
        const std::string line = lines.Trimmed();
        if (debug) {
            printed += "Received: " + line + "\n";
        }
        if (!line.empty() && line[0] == '-') {
            printed += line.substr(1) + "\n";
        }
        if (!line.empty() && line[0] == '+') {
            results.push_back(line);
        }
    }
    results.push_back("silence");  // the port has nothing more
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static StdoutCapture capture;
    if (size == 0) {
        return 0;
    }
    const bool debug = (data[0] & 1) != 0;
    const std::vector<Step> script = Script(data + 1, size - 1);
    FakePortPlatform platform;
    platform.readsEndInSilence = true;
    for (const Step& step : script) {
        platform.reads.push_back(step.silence ? std::string() : std::string(1, step.byte));
    }
    std::vector<std::string> expected;
    std::string expectedPrinted;
    Expect(script, debug, expected, expectedPrinted);

    capture.Take();
    std::vector<std::string> results;
    {
        COMPort port("fuzz", platform);
        LineBuf buffer;
        for (;;) {
            if (Downloader::ReadReply(buffer, port, debug)) {
                const std::string answer = buffer.LastLine();
                FUZZ_CHECK(!answer.empty() && answer[0] == '+', "answer without +");
                results.push_back(answer);
                continue;
            }
            results.push_back("silence");
            if (platform.readsPastEnd > 0) {
                break;
            }
        }
    }
    const std::string printed = capture.Take();
    FUZZ_CHECK(results == expected,
               "answers: " << results.size() << " calls, expected " << expected.size());
    FUZZ_CHECK(printed == expectedPrinted, "printed text differs");
    return 0;
}
