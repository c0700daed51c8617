// Every record is on stable storage before the run goes on, seen where it
// happens: in the calls the program makes to the system (strace), each
// write of a record to its file is followed by the forcing of that file
// (fsync; FlushFileBuffers, which Wine turns into one) before the board
// hears anything more. A record after a torn line starts a line of its own.
// Natively and under Wine.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/app/boards/NextBoard.h"
#include "tests/protocol/DownloadTestSupport.h"
#include "tests/support/Harness.h"

namespace {

using download_test::kRunGuardMs;

// What the program did to its record file and its port, in order.
enum class Call { WroteRecord, ForcedRecord, WrotePort };

std::vector<Call> CallsOn(const std::string& log, const std::string& report,
                          const std::string& device) {
    std::vector<Call> calls;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        const bool write =
            line.find("write(") != std::string::npos || line.find("pwrite64(") != std::string::npos;
        const bool force = line.find("fsync(") != std::string::npos ||
                           line.find("fdatasync(") != std::string::npos;
        if (line.find("<" + report + ">") != std::string::npos && (write || force)) {
            calls.push_back(write ? Call::WroteRecord : Call::ForcedRecord);
        } else if (line.find("<" + device + ">") != std::string::npos && write) {
            calls.push_back(Call::WrotePort);
        }
    }
    return calls;
}

// strace works here: it is installed and may trace its children.
bool CanTrace(std::string& why) {
    if (std::system("strace -f -o /dev/null true >/dev/null 2>&1") != 0) {
        why = "strace is not installed or may not trace here (scripts/install-deps installs it)";
        return false;
    }
    return true;
}

}  // namespace

TEST(RecordOnDisk, EachRecordIsForcedToDiskBeforeTheBoardHearsMoreAndNeverJoinsATornLine) {
    std::string why;
    if (!CanTrace(why)) {
        GTEST_SKIP() << why;
    }
    auto board = harness::StartBoard();
    const std::string torn = R"({"version":"1.3","started":"2026-12-01T0)";
    const std::string report = harness::WriteTempFile(torn, "records.jsonl");
    const std::string log = report + ".strace";
    harness::ProcessOptions options;
    options.binary = "strace";
    // A program built with the address checker cannot look for leaks while
    // it is traced.
    const char* checks = std::getenv("ASAN_OPTIONS");
    options.args = {
        "-f", "-y",
        "-e", "trace=write,pwrite64,writev,fsync,fdatasync",
        "-o", log,
        "-E", std::string("ASAN_OPTIONS=") + (checks != nullptr ? checks : "") + ":detect_leaks=0"};
    const std::vector<std::string> run = harness::LaunchCommand(
        harness::VantoirBinary(),
        {"-P", harness::PortName(*board), "-F", harness::WriteTempFile(harness::SampleHex(10)),
         "--report", report, "--boards", "2"});
    options.args.insert(options.args.end(), run.begin(), run.end());
    harness::ChildProcess traced(options);
    boards_test::NextBoard(traced, *board, 1);
    const harness::ProcessResult result = traced.Wait(kRunGuardMs);
    ASSERT_EQ(result.exitStatus, 0) << harness::Describe(result);

    std::ifstream in(log);
    std::ostringstream calls;
    calls << in.rdbuf();
    std::ifstream kept(report, std::ios::binary);
    std::ostringstream records;
    records << kept.rdbuf();
    const std::string canonical = std::filesystem::canonical(report).string();
    const std::vector<Call> seen = CallsOn(calls.str(), canonical, board->SlavePath());
    std::vector<Call> onRecords;
    for (size_t i = 0; i < seen.size(); ++i) {
        if (seen[i] == Call::WroteRecord) {
            // The next call on the file or the port forces the file.
            ASSERT_LT(i + 1, seen.size()) << calls.str();
            EXPECT_EQ(seen[i + 1], Call::ForcedRecord) << "record " << onRecords.size() / 2 + 1;
        }
        if (seen[i] != Call::WrotePort) {
            onRecords.push_back(seen[i]);
        }
    }
    EXPECT_GE(onRecords.size(), 4u) << calls.str();
    // The board kept hearing the run after the first record: its second download.
    EXPECT_NE(std::find(seen.begin(), seen.end(), Call::WrotePort), seen.end());

    const std::vector<std::string> lines = download_test::Lines(records.str());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], torn + "\n");
    EXPECT_EQ(lines[1].rfind("{\"version\":", 0), 0u);
    EXPECT_EQ(lines[2].rfind("{\"version\":", 0), 0u);
}
