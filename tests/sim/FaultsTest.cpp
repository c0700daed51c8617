// Each fault the board can play, fed directly (no line in between).
#include <gtest/gtest.h>

#include "sim/HexRecord.h"
#include "sim/LoaderProtocol.h"
#include "tests/sim/FeedBoard.h"

namespace {

using sim::BoardConfig;
using sim::Emission;
using sim::LoaderProtocol;

using feed_board::Answer;
using feed_board::Bytes;

const std::string kRecord = sim::FormatRecord(0x0000, 0, {1, 2, 3, 4}) + "\r\n";

BoardConfig Quiet() {
    BoardConfig config;
    config.identity = "ID";
    config.flashIntervalMs = 0;
    config.flashProgressLines = 0;
    return config;
}

}  // namespace

TEST(SilentBoard, IgnoresTheFirstPollsThenAnswers) {
    BoardConfig config = Quiet();
    config.silentPolls = 3;
    LoaderProtocol board(config);
    EXPECT_EQ(Answer(board, "?\r\n?\r\n?\r\n"), "");
    EXPECT_FALSE(board.Summary().identified);
    EXPECT_EQ(Answer(board, "?\r\n"), "+ID\r\n");
    EXPECT_EQ(board.Summary().polls, 4);
}

TEST(SilentBoard, SendsPollMessagesWithoutAcknowledging) {
    BoardConfig config = Quiet();
    config.silentPolls = 1;
    config.pollMessages = {"-Booting"};
    LoaderProtocol board(config);
    EXPECT_EQ(Answer(board, "?\r\n"), "-Booting\r\n");
    EXPECT_EQ(Answer(board, "?\r\n"), "-Booting\r\n+ID\r\n");
}

TEST(SilentBoard, IgnoresTheFirstRequestsAndCounts) {
    BoardConfig config = Quiet();
    config.ignoreRequests = 2;
    config.ignoreCounts = 1;
    LoaderProtocol board(config);
    EXPECT_EQ(Answer(board, "R\r\nR\r\n"), "");
    EXPECT_EQ(Answer(board, "R\r\n"), "+\r\n");
    Answer(board, kRecord);
    EXPECT_EQ(Answer(board, "C\r\n"), "");
    EXPECT_EQ(Answer(board, "C\r\n"), "+1\r\n");
}

TEST(SilentBoard, AnswersTheFirstRequestAndCountLate) {
    BoardConfig config = Quiet();
    config.lateRequestMs = 3500;
    config.lateCountMs = 4000;
    LoaderProtocol board(config);
    for (const char* command : {"R\r\n", "C\r\n"}) {
        const std::vector<Emission> first = board.Feed(command);
        ASSERT_FALSE(first.empty());
        EXPECT_EQ(first.front().delayMs, command[0] == 'R' ? 3500 : 4000);
        EXPECT_EQ(Bytes(first), command[0] == 'R' ? "+\r\n" : "+0\r\n");
        EXPECT_EQ(board.Feed(command).front().delayMs, 0) << "the repeated " << command;
    }
}

TEST(SilentBoard, FallsSilentAfterRecordsButKeepsReceiving) {
    BoardConfig config = Quiet();
    config.silentAfterRecords = 2;
    LoaderProtocol board(config);
    Answer(board, "R\r\n" + kRecord + kRecord + kRecord);
    EXPECT_EQ(Answer(board, "C\r\n?\r\nR\r\nW\r\nS\r\n"), "");
    EXPECT_EQ(board.Summary().records, 3);
    EXPECT_EQ(board.Summary().countQueries, 1);
    EXPECT_FALSE(board.Summary().started);
}

TEST(ExtraLines, SendsRequestAndStartMessages) {
    BoardConfig config = Quiet();
    config.requestMessages = {"-Erasing", "-Erased"};
    config.startMessages = {"Hello from the program"};
    LoaderProtocol board(config);
    EXPECT_EQ(Answer(board, "R\r\n"), "-Erasing\r\n-Erased\r\n+\r\n");
    Answer(board, kRecord);
    Answer(board, "C\r\n");
    EXPECT_EQ(Answer(board, "S\r\n"), "Hello from the program\r\n");
}

TEST(WrongCount, AnswersWithTheTrueCountPlusAnOffset) {
    BoardConfig config = Quiet();
    config.countOffset = -1;
    LoaderProtocol board(config);
    Answer(board, "R\r\n" + kRecord + kRecord);
    EXPECT_EQ(Answer(board, "C\r\n"), "+1\r\n");
    Answer(board, "S\r\n");
    EXPECT_FALSE(board.Summary().countMatched);
    EXPECT_FALSE(board.Summary().downloadComplete);
}

TEST(WrongCount, AnswersWithAGivenLineAndJudgesItAsTheHostReadsIt) {
    struct Case {
        std::string reply;
        bool matches;
    };
    for (const Case& c : {Case{"+ 2", true}, Case{"+2 lines", true}, Case{"+", false},
                          Case{"2", false}, Case{"+two", false}}) {
        BoardConfig config = Quiet();
        config.countReply = c.reply;
        LoaderProtocol board(config);
        Answer(board, "R\r\n" + kRecord + kRecord);
        EXPECT_EQ(Answer(board, "C\r\n"), c.reply + "\r\n");
        EXPECT_EQ(board.Summary().countMatched, c.matches) << c.reply;
    }
}

TEST(FlashFaults, SpacesProgressLinesByTheInterval) {
    BoardConfig config = Quiet();
    config.flashProgressLines = 2;
    config.flashIntervalMs = 3500;
    config.flashProgressText = "-%d%% done, 100%% soon";
    LoaderProtocol board(config);
    std::vector<Emission> out = board.Feed("W\r\n");
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].bytes, "-50% done, 100% soon\r\n");
    EXPECT_EQ(out[1].bytes, "-100% done, 100% soon\r\n");
    EXPECT_EQ(out[2].bytes, "+\r\n");
    for (const Emission& emission : out) {
        EXPECT_EQ(emission.delayMs, 3500);
    }
}

TEST(FlashFaults, NeverAcknowledges) {
    BoardConfig config = Quiet();
    config.flashProgressLines = 1;
    config.flashNeverAck = true;
    config.expectFlash = true;
    LoaderProtocol board(config);
    Answer(board, "R\r\n" + kRecord + "C\r\n");
    EXPECT_EQ(Answer(board, "W\r\n"), "-Programming flash: 100%\r\n");
    Answer(board, "S\r\n");
    EXPECT_FALSE(board.Summary().flashed);
    EXPECT_FALSE(board.Summary().downloadComplete);
}

TEST(ReplyShape, SplitsEveryLineInThreeWritesWithPauses) {
    BoardConfig config = Quiet();
    config.identity = "ABCDE";
    config.splitPauseMs = 40;
    LoaderProtocol board(config);
    std::vector<Emission> out = board.Feed("?\r\n");
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].bytes, "+AB");
    EXPECT_EQ(out[0].delayMs, 0);
    EXPECT_EQ(out[1].bytes, "CDE\r");
    EXPECT_EQ(out[1].delayMs, 40);
    EXPECT_EQ(out[2].bytes, "\n");
    EXPECT_EQ(out[2].delayMs, 40);
}

TEST(ReplyShape, SendsNoiseBeforeLinesAndOnConnect) {
    BoardConfig config = Quiet();
    config.noiseOnConnect = std::string("\x00\xff", 2) + "xxxx";
    config.noiseBeforeLines = "~";
    LoaderProtocol board(config);
    EXPECT_EQ(Answer(board, "?\r\n"), std::string("\x00\xffxxxx~+ID\r\n", 12));
    EXPECT_EQ(Answer(board, "?\r\n"), "~+ID\r\n") << "connect noise comes once";
}

TEST(RawEcho, EchoesAndAnswersEveryChunkWithoutTheProtocol) {
    BoardConfig config = Quiet();
    config.loaderProtocol = false;
    config.echo = true;
    config.answerOnReceive = "!";
    LoaderProtocol board(config);
    EXPECT_EQ(Answer(board, "?\r\n"), "?\r\n!");
    EXPECT_EQ(Answer(board, std::string("\0\x1a", 2)), std::string("\0\x1a!", 3));
    EXPECT_EQ(board.Summary().polls, 0);
    EXPECT_EQ(board.Summary().bytesReceived, 5);
}

TEST(HangUp, TakesExactlyTheBytesBeforeTheLimit) {
    BoardConfig config = Quiet();
    config.hangUpAfterBytes = 5;
    config.echo = true;
    LoaderProtocol board(config);
    EXPECT_EQ(board.BytesBeforeHangUp(), 5);
    // The echo of a chunk comes before the answers to the lines in it.
    EXPECT_EQ(Answer(board, "?\r\nR\r\n"), "?\r\nR\r+ID\r\n+\r\n");
    EXPECT_EQ(board.LastTaken(), 5u);
    EXPECT_TRUE(board.HangUpDue());
    EXPECT_EQ(Answer(board, "more"), "");
    EXPECT_EQ(board.LastTaken(), 0u);
    EXPECT_EQ(board.Summary().bytesReceived, 5);
}

TEST(HangUp, ComesRightAfterTheGivenRecord) {
    BoardConfig config = Quiet();
    config.hangUpAfterRecords = 2;
    LoaderProtocol board(config);
    Answer(board, "R\r\n");
    std::string input = kRecord + kRecord + kRecord;
    Answer(board, input);
    EXPECT_TRUE(board.HangUpDue());
    EXPECT_EQ(board.Summary().records, 2);
    // The second record's line end is its CR; the LF after it is not taken.
    EXPECT_EQ(board.LastTaken(), 2 * kRecord.size() - 1);
}
