// The board's side of the exchange, fed directly (no line in between).
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

const std::string kGood1 = sim::FormatRecord(0x0000, 0, {1, 2, 3, 4});
const std::string kGood2 = sim::FormatRecord(0x0004, 0, {5, 6, 7, 8});
const std::string kEnd = sim::FormatRecord(0, 1, {});
// kGood1 with its last checksum digit changed.
std::string BadChecksum() {
    std::string line = kGood1;
    line.back() = line.back() == '0' ? '1' : '0';
    return line;
}

BoardConfig Quiet() {
    BoardConfig config;
    config.identity = "ID";
    config.flashIntervalMs = 0;
    return config;
}

}  // namespace

TEST(NormalExchange, AnswersEveryCommandAsTheHostExpects) {
    BoardConfig config = Quiet();
    config.greeting = {"-Ready", "hello"};
    config.flashProgressLines = 2;
    config.flashProgressText = "-Flash %d%%";
    LoaderProtocol board(config);
    EXPECT_EQ(Answer(board, "?\r\n"), "+ID\r\n-Ready\r\nhello\r\n");
    EXPECT_EQ(Answer(board, "R\r\n"), "+\r\n");
    EXPECT_EQ(Answer(board, kGood1 + "\r\n" + kGood2 + "\r\n" + kEnd + "\r\n"), "");
    EXPECT_EQ(Answer(board, "C\r\n"), "+3\r\n");
    EXPECT_EQ(Answer(board, "W\r\n"), "-Flash 50%\r\n-Flash 100%\r\n+\r\n");
    EXPECT_FALSE(board.Summary().downloadComplete) << "not started yet";
    EXPECT_EQ(Answer(board, "S\r\n"), "");
    const sim::BoardSummary& summary = board.Summary();
    EXPECT_EQ(summary.polls, 1);
    EXPECT_EQ(summary.requests, 1);
    EXPECT_EQ(summary.countQueries, 1);
    EXPECT_EQ(summary.flashes, 1);
    EXPECT_EQ(summary.starts, 1);
    EXPECT_EQ(summary.records, 3);
    EXPECT_TRUE(summary.started);
    EXPECT_TRUE(summary.downloadComplete);
}

TEST(NormalExchange, TakesLinesEndedByCrOrLfAloneAndAcrossChunks) {
    LoaderProtocol board(Quiet());
    EXPECT_EQ(Answer(board, "?"), "");
    EXPECT_EQ(Answer(board, "\r"), "+ID\r\n");
    EXPECT_EQ(Answer(board, "\nR\n"), "+\r\n");
    std::string record = kGood1 + "\n";
    for (char c : record) {
        Answer(board, std::string(1, c));
    }
    EXPECT_EQ(Answer(board, "\n\r\nC\r"), "+1\r\n") << "empty lines are ignored";
    EXPECT_EQ(board.Summary().unknownLines, 0);
}

TEST(NormalExchange, IgnoresUnknownLinesAndRecordsBeforeTheRequest) {
    LoaderProtocol board(Quiet());
    EXPECT_EQ(Answer(board, "hello\r\n ?\r\nRR\r\n" + kGood1 + "\r\n"), "");
    EXPECT_EQ(board.Summary().unknownLines, 3);
    EXPECT_EQ(board.Summary().strayRecords, 1);
    Answer(board, "R\r\n");
    EXPECT_EQ(Answer(board, "C\r\n"), "+0\r\n");
}

TEST(NormalExchange, ANewRequestStartsTheCountAgain) {
    LoaderProtocol board(Quiet());
    Answer(board, "R\r\n" + kGood1 + "\r\n" + BadChecksum() + "\r\n");
    Answer(board, "R\r\n" + kGood2 + "\r\n");
    EXPECT_EQ(Answer(board, "C\r\n"), "+1\r\n");
    EXPECT_EQ(board.Summary().badRecords, 0);
}

TEST(RecordCount, ReportsBadRecordsBeforeTheCount) {
    LoaderProtocol board(Quiet());
    Answer(board, "R\r\n");
    Answer(board, kGood1 + "\r\n" + BadChecksum() + "\r\n:0100\r\n" + kEnd + "\r\n");
    EXPECT_EQ(Answer(board, "C\r\n"), "-Line 2: checksum error\r\n-Line 3: syntax error\r\n+4\r\n");
    EXPECT_EQ(board.Summary().badRecords, 2);
    EXPECT_EQ(board.Summary().checksumErrors, 1);
    EXPECT_EQ(board.Summary().syntaxErrors, 1);
    EXPECT_NE(LoaderProtocol::FormatSummary(board.Summary())
                  .find("records received: 4 (2 with errors: 1 checksum, 0 length, 1 syntax)\n"),
              std::string::npos);
    Answer(board, "S\r\n");
    EXPECT_FALSE(board.Summary().downloadComplete) << "bad records spoil the download";
}

TEST(RecordCount, ARecordRunIntoTheNextCommandIsOneBadRecord) {
    LoaderProtocol board(Quiet());
    Answer(board, "R\r\n");
    EXPECT_EQ(Answer(board, kEnd + "C\r\n"), "") << "the command is lost in the record";
    EXPECT_EQ(Answer(board, "C\r\n"), "-Line 1: syntax error\r\n+1\r\n");
}

TEST(RecordCount, CanRecoverACommandRunIntoTheLastRecord) {
    BoardConfig config = Quiet();
    config.recoverTrailingCommand = true;
    LoaderProtocol board(config);
    Answer(board, "R\r\n");
    EXPECT_EQ(Answer(board, kEnd + "C\r\n"), "+1\r\n");
    EXPECT_EQ(Answer(board, BadChecksum() + "C\r\nC\r\n"), "-Line 2: syntax error\r\n+2\r\n")
        << "a record that is bad without the letter stays one bad record";
}

TEST(RecordCount, ARecordAfterTheCountNeedsANewCount) {
    LoaderProtocol board(Quiet());
    Answer(board, "R\r\n" + kGood1 + "\r\nC\r\n" + kGood2 + "\r\nS\r\n");
    EXPECT_FALSE(board.Summary().countMatched);
    EXPECT_FALSE(board.Summary().downloadComplete);
}

TEST(DownloadCompletion, NeedsFlashOnlyWhenExpectedAndStartUnlessToldOtherwise) {
    BoardConfig config = Quiet();
    config.expectFlash = true;
    LoaderProtocol withFlash(config);
    Answer(withFlash, "R\r\n" + kGood1 + "\r\nC\r\nS\r\n");
    EXPECT_FALSE(withFlash.Summary().downloadComplete);
    Answer(withFlash, "C\r\nW\r\nS\r\n");
    EXPECT_TRUE(withFlash.Summary().downloadComplete);

    config = Quiet();
    config.expectStart = false;
    LoaderProtocol noStart(config);
    Answer(noStart, "R\r\n" + kGood1 + "\r\n");
    EXPECT_FALSE(noStart.Summary().downloadComplete);
    Answer(noStart, "C\r\n");
    EXPECT_TRUE(noStart.Summary().downloadComplete);
}

TEST(DownloadCompletion, NeedsAtLeastOneRecord) {
    LoaderProtocol board(Quiet());
    Answer(board, "?\r\nR\r\nC\r\nS\r\n");
    EXPECT_FALSE(board.Summary().downloadComplete);
}
