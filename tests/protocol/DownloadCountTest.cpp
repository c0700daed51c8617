// The count check at the end of the upload: the board's number read as atoi
// reads it, compared with the number of record lines sent; a mismatch ends
// the session on standard output with status 1 and nothing more is sent.

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "tests/protocol/DownloadTestSupport.h"

namespace {

using namespace download_test;

struct CountCase {
    const char* reply;
    const char* outcome;  // what follows the final progress line
    const char* wireTail;
};

class CountCheck : public ::testing::TestWithParam<CountCase> {};

// Shown in test names and failure messages.
void PrintTo(const CountCase& param, std::ostream* out) {
    *out << '"' << param.reply << '"';
}

TEST_P(CountCheck, ReplyDecidesTheOutcome) {
    const CountCase& param = GetParam();
    sim::BoardConfig config;
    config.countReply = param.reply;
    auto board = harness::StartBoard(config);
    const std::string content = harness::SampleHex(250);
    const std::string dataFile = harness::WriteTempFile(content);

    const harness::ProcessResult result = Download(*board, dataFile);

    const bool accepted = std::string(param.wireTail) == "S\r\n";
    EXPECT_EQ(result.exitStatus, accepted ? 0 : 1) << harness::Describe(result);
    EXPECT_EQ(result.err, "");
    const std::string progress = UploadProgress(content);
    const size_t end = result.out.find(progress);
    ASSERT_NE(end, std::string::npos) << result.out;
    EXPECT_EQ(result.out.substr(end + progress.size()), param.outcome);
    if (accepted) {
        ASSERT_TRUE(board->WaitForReceived("S\r\n", kRunGuardMs));
    }
    ExpectSessionOnWire(board->Received(), OnWire(content), param.wireTail);
}

constexpr const char* kAccepted = "File uploaded OK\nStart command sent to DSP\n";

INSTANTIATE_TEST_SUITE_P(
    Replies, CountCheck,
    ::testing::Values(
        CountCase{"+250", kAccepted, "S\r\n"}, CountCase{"+ 250", kAccepted, "S\r\n"},
        CountCase{"+250 lines", kAccepted, "S\r\n"}, CountCase{"+\t+250x", kAccepted, "S\r\n"},
        CountCase{"+249", "Mismatch: uploaded 250 lines; DSP reported 249 lines received\n", ""},
        CountCase{"+", "Mismatch: uploaded 250 lines; DSP reported 0 lines received\n", ""},
        CountCase{"+-250", "Mismatch: uploaded 250 lines; DSP reported -250 lines received\n", ""},
        // A number past the 32-bit range must not wrap round to the true count.
        CountCase{"+4294967546",
                  "Mismatch: uploaded 250 lines; DSP reported 2147483647 lines received\n", ""}));

}  // namespace
