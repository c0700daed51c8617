// The board on a real pseudo-terminal, driven by a scripted host.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include "sim/Board.h"
#include "sim/HexRecord.h"
#include "tests/support/Harness.h"
#include "tests/support/ScriptedHost.h"

namespace {

using harness::ScriptedHost;
using Ms = std::chrono::duration<double, std::milli>;

constexpr int kGuardMs = 10000;
constexpr uid_t kNobody = 65534;

const std::string kRecord = sim::FormatRecord(0x0100, 0, {9, 8, 7, 6, 5, 4, 3, 2}) + "\r\n";

// The time the chunks after the first took to arrive, measured and as the
// baud rate says (the first chunk may have waited in the line).
struct Pace {
    double measuredMs;
    double expectedMs;
};

Pace MeasurePace(const std::vector<sim::ReceivedChunk>& chunks, uint32_t baudRate) {
    if (chunks.empty()) {
        return {-1, 0};  // nothing came: fails every bound
    }
    size_t total = 0;
    for (const sim::ReceivedChunk& chunk : chunks) {
        total += chunk.bytes.size();
    }
    double bytesAfterFirst = static_cast<double>(total - chunks.front().bytes.size());
    return {Ms(chunks.back().at - chunks.front().at).count(),
            bytesAfterFirst * 10 * 1000.0 / baudRate};
}

}  // namespace

TEST(BoardOnALine, PlaysACompleteDownload) {
    sim::BoardConfig config;
    config.identity = "Test loader";
    config.flashProgressLines = 1;
    config.flashIntervalMs = 0;
    auto board = harness::StartBoard(config);
    ScriptedHost host(board->SlavePath());

    ASSERT_TRUE(host.Write("?\r\n"));
    ASSERT_TRUE(host.ReadUntil("+Test loader\r\n", kGuardMs));
    ASSERT_TRUE(host.Write("R\r\n"));
    ASSERT_TRUE(host.ReadUntil("+\r\n", kGuardMs, host.Received().size()));
    std::string records;
    for (int i = 0; i < 200; ++i) {
        records += kRecord;
    }
    ASSERT_TRUE(host.Write(records));
    ASSERT_TRUE(host.Write("C\r\n"));
    ASSERT_TRUE(host.ReadUntil("+200\r\n", kGuardMs));
    ASSERT_TRUE(host.Write("W\r\n"));
    ASSERT_TRUE(host.ReadUntil("-Programming flash: 100%\r\n+\r\n", kGuardMs));
    ASSERT_TRUE(host.Write("S\r\n"));
    ASSERT_TRUE(board->WaitForStart(kGuardMs));

    EXPECT_EQ(board->Received(), "?\r\nR\r\n" + records + "C\r\nW\r\nS\r\n");
    EXPECT_EQ(board->Sent(), host.Received());
    sim::BoardSummary summary = board->Summary();
    EXPECT_EQ(summary.records, 200);
    EXPECT_TRUE(summary.downloadComplete);
}

TEST(BoardOnALine, RecordsChunksInOrderWithTimes) {
    auto board = harness::StartBoard();
    ScriptedHost host(board->SlavePath());
    auto before = sim::Clock::now();
    ASSERT_TRUE(host.Write("?\r\n"));
    ASSERT_TRUE(board->WaitForReceived("?\r\n", kGuardMs));
    ASSERT_TRUE(host.ReadUntil("\r\n", kGuardMs));
    ASSERT_TRUE(host.Write("hello"));
    ASSERT_TRUE(board->WaitForBytes(8, kGuardMs));
    auto after = sim::Clock::now();

    std::vector<sim::ReceivedChunk> chunks = board->ReceivedChunks();
    std::string joined;
    for (size_t i = 0; i < chunks.size(); ++i) {
        joined += chunks[i].bytes;
        EXPECT_GE(chunks[i].at, before);
        EXPECT_LE(chunks[i].at, after);
        if (i > 0) {
            EXPECT_GE(chunks[i].at, chunks[i - 1].at);
        }
    }
    EXPECT_EQ(joined, "?\r\nhello");
    EXPECT_GE(board->ReceivedAt(3), board->ReceivedAt(0)) << "hello came after the answer";
    EXPECT_EQ(board->ReceivedAt(100), sim::Clock::time_point());
}

TEST(BoardOnALine, SendsWhatTheTestGivesItAtAnyTime) {
    sim::BoardConfig config;
    config.loaderProtocol = false;
    auto board = harness::StartBoard(config);
    ScriptedHost host(board->SlavePath());
    std::string bytes("line one\r\n\0\x1b[1m no end", 20);
    board->Send(bytes);
    ASSERT_TRUE(host.ReadBytes(bytes.size(), kGuardMs));
    EXPECT_EQ(host.Received(), bytes);
    EXPECT_TRUE(board->WaitForSendIdle(kGuardMs));
}

TEST(BoardOnALine, HangsUpOnDemand) {
    auto board = harness::StartBoard();
    ScriptedHost host(board->SlavePath());
    board->HangUp();
    EXPECT_TRUE(board->WaitForStopped(kGuardMs));
    EXPECT_TRUE(host.WaitForHangUp(kGuardMs));
    EXPECT_TRUE(board->Summary().hungUp);
}

TEST(BoardOnALine, HangsUpAfterTheGivenNumberOfBytes) {
    sim::BoardConfig config;
    config.hangUpAfterBytes = 10;
    auto board = harness::StartBoard(config);
    ScriptedHost host(board->SlavePath());
    ASSERT_TRUE(host.Write("?\r\n" + kRecord));
    EXPECT_TRUE(host.WaitForHangUp(kGuardMs));
    EXPECT_TRUE(board->WaitForStopped(kGuardMs));
    EXPECT_EQ(board->Received(), ("?\r\n" + kRecord).substr(0, 10));
}

TEST(BoardOnALine, HangsUpAfterTheGivenNumberOfRecords) {
    sim::BoardConfig config;
    config.hangUpAfterRecords = 3;
    auto board = harness::StartBoard(config);
    ScriptedHost host(board->SlavePath());
    ASSERT_TRUE(host.Write("R\r\n"));
    ASSERT_TRUE(host.ReadUntil("+\r\n", kGuardMs));
    host.Write(kRecord + kRecord + kRecord + kRecord, 1000);
    EXPECT_TRUE(host.WaitForHangUp(kGuardMs));
    EXPECT_EQ(board->Summary().records, 3);
}

TEST(BoardOnALine, WritesEveryByteReceivedToTheLog) {
    std::string log = harness::WriteTempFile("old content", "board.log");
    sim::BoardConfig config;
    config.logPath = log;
    {
        auto board = harness::StartBoard(config);
        ScriptedHost host(board->SlavePath());
        ASSERT_TRUE(host.Write(std::string("?\r\n\0\xff", 5)));
        ASSERT_TRUE(board->WaitForBytes(5, kGuardMs));
    }
    std::FILE* file = std::fopen(log.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    char buffer[64];
    size_t got = std::fread(buffer, 1, sizeof buffer, file);
    std::fclose(file);
    EXPECT_EQ(std::string(buffer, got), std::string("?\r\n\0\xff", 5));
}

TEST(BoardTiming, SplitRepliesArriveInPiecesWithPauses) {
    sim::BoardConfig config;
    config.identity = "0123456789";
    config.splitPauseMs = 150;
    auto board = harness::StartBoard(config);
    ScriptedHost host(board->SlavePath());
    ASSERT_TRUE(host.Write("?\r\n"));
    ASSERT_TRUE(host.ReadUntil("\n", kGuardMs));
    EXPECT_EQ(host.Received(), "+0123456789\r\n");
    const std::vector<sim::ReceivedChunk>& chunks = host.Chunks();
    ASSERT_EQ(chunks.size(), 3u);
    EXPECT_EQ(chunks[0].bytes, "+0123");
    EXPECT_EQ(chunks[1].bytes, "456789\r");
    EXPECT_EQ(chunks[2].bytes, "\n");
    EXPECT_GE(Ms(chunks[1].at - chunks[0].at).count(), 120);
    EXPECT_GE(Ms(chunks[2].at - chunks[1].at).count(), 120);
}

TEST(BoardTiming, FlashProgressComesAtTheInterval) {
    sim::BoardConfig config;
    config.flashProgressLines = 2;
    config.flashIntervalMs = 200;
    auto board = harness::StartBoard(config);
    ScriptedHost host(board->SlavePath());
    auto sent = sim::Clock::now();
    ASSERT_TRUE(host.Write("W\r\n"));
    ASSERT_TRUE(host.ReadUntil("+\r\n", kGuardMs));
    const std::vector<sim::ReceivedChunk>& chunks = host.Chunks();
    ASSERT_EQ(chunks.size(), 3u);
    // Counted from "W": a host that reads a chunk late makes the gap to the
    // next one look shorter, but can never make a chunk come early.
    for (size_t k = 0; k < chunks.size(); ++k) {
        EXPECT_GE(Ms(chunks[k].at - sent).count(), 200 * static_cast<int>(k + 1) - 40) << k;
    }
}

// Over a second's worth of bytes the paced line must carry them within 10 %
// of the rate the baud rate gives (10 bits a byte), in both directions; at a
// low rate, too, where a byte takes longer than a poll tick. A busy machine
// can only make the line slower: "never faster" is checked on every attempt,
// "not slower" holds when one of three attempts keeps it.
template <typename Measure>
void ExpectPacedAt(uint32_t baud, Measure measure) {
    bool keptUp = false;
    for (int attempt = 0; attempt < 3 && !keptUp; ++attempt) {
        const Pace pace = measure(baud);
        EXPECT_GE(pace.measuredMs, pace.expectedMs * 0.9) << baud << " baud";
        keptUp = pace.measuredMs <= pace.expectedMs * 1.1;
    }
    EXPECT_TRUE(keptUp) << baud << " baud: more than 10 % slow in three attempts";
}

// A second's worth of bytes over a paced line, taken by the board (the host
// writes) or sent by it (the host reads), timed where they arrive.
Pace MeasureLine(uint32_t baud, bool boardSends) {
    sim::BoardConfig config;
    config.baudRate = baud;
    config.loaderProtocol = false;
    auto board = harness::StartBoard(config);
    ScriptedHost host(board->SlavePath());
    const size_t bytes = baud / 10;
    if (boardSends) {
        board->Send(std::string(bytes, 'y'));
        EXPECT_TRUE(host.ReadBytes(bytes, kGuardMs));
        return MeasurePace(host.Chunks(), baud);
    }
    EXPECT_TRUE(host.Write(std::string(bytes, 'x')));
    EXPECT_TRUE(board->WaitForBytes(bytes, kGuardMs));
    return MeasurePace(board->ReceivedChunks(), baud);
}

Pace MeasureTaking(uint32_t baud) {
    return MeasureLine(baud, false);
}
Pace MeasureSending(uint32_t baud) {
    return MeasureLine(baud, true);
}

TEST(BoardTiming, PacesWhatItTakesAtTheBaudRate) {
    for (uint32_t baud : {38400u, 4800u}) {
        ExpectPacedAt(baud, MeasureTaking);
    }
}

TEST(BoardTiming, PacesWhatItSendsAtTheBaudRate) {
    for (uint32_t baud : {38400u, 4800u}) {
        ExpectPacedAt(baud, MeasureSending);
    }
}

// A host killed while it held the port leaves the line marked exclusive; a
// normal user must be able to open the port again (root ignores the mark, so
// the opener gives up root).
TEST(BoardOnALine, PortCanBeOpenedAgainAfterAHostDiedHoldingItExclusively) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to try the open as another user";
    }
    auto board = harness::StartBoard();
    ASSERT_EQ(chmod(board->SlavePath().c_str(), 0666), 0);
    int dead = open(board->SlavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(dead, 0);
    ASSERT_EQ(ioctl(dead, TIOCEXCL), 0);
    close(dead);

    auto openAsNobody = [&] {
        pid_t child = fork();
        if (child == 0) {
            if (setgid(kNobody) != 0 || setuid(kNobody) != 0) {
                _exit(2);
            }
            _exit(open(board->SlavePath().c_str(), O_RDWR | O_NOCTTY) >= 0 ? 0 : 1);
        }
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 3;
    };
    auto deadline = sim::Clock::now() + std::chrono::milliseconds(kGuardMs);
    int result = openAsNobody();
    while (result == 1 && sim::Clock::now() < deadline) {
        // Not yet idle long enough for the board; try again shortly.
        poll(nullptr, 0, 20);
        result = openAsNobody();
    }
    EXPECT_EQ(result, 0);
}
