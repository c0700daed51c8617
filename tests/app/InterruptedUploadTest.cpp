// An upload ended by the operator, the whole program over a port whose
// output queue holds what the test says when the interrupt comes: the record
// counts, and digests, only the record lines whose bytes left the computer.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/ProgramFlow.h"
#include "serial/Interrupt.h"
#include "tests/app/InProcessRun.h"
#include "tests/app/report/ReportRecords.h"
#include "tests/serial/FakePortPlatform.h"
#include "text/Sha256.h"

namespace {

constexpr int kLines = 8;
constexpr size_t kWireLength = 21;  // each record line with CR LF

std::string RecordLine(int index) {
    char line[32];
    std::snprintf(line, sizeof line, ":04%04X000102030400", static_cast<unsigned>(index * 4));
    return line;
}

class InterruptedUpload : public InProcessRun {
  protected:
    void SetUp() override {
        std::string content;
        for (int i = 0; i < kLines; ++i) {
            content += RecordLine(i) + "\n";
        }
        WriteDataFile(content + ":00000001FF\n");
        reportPath = dataPath + ".jsonl";
        std::remove(reportPath.c_str());
        port.readsEndInSilence = true;
        port.board = [this](const std::string& line) { return Answer(line); };
    }
    void TearDown() override {
        ClearInterrupt();
        std::remove(reportPath.c_str());
        InProcessRun::TearDown();
    }

    // The interrupt comes while the board's record line number interruptAt
    // is written; the queue then holds queued bytes.
    report_test::Json Run(int interruptAt, uint32_t queued) {
        interruptLine = interruptAt;
        queueAtInterrupt = queued;
        const RunEnd end =
            InProcessRun::Run({"-P", "fake", "-F", dataPath, "--report", reportPath}, port);
        EXPECT_NE(end.interrupt, 0);
        return report_test::OnlyRecord(reportPath);
    }

    // The digest of the first count record lines as they went out.
    static std::string DigestOfLines(int count) {
        std::string sent;
        for (int i = 0; i < count; ++i) {
            sent += RecordLine(i) + "\r\n";
        }
        return Sha256Hex(sent.data(), sent.size());
    }

    FakePortPlatform port;
    std::string reportPath;

  private:
    std::string Answer(const std::string& line) {
        if (!line.empty() && line[0] == ':') {
            if (++records == interruptLine) {
                NoteInterrupt(2);
                port.queuedOutput = queueAtInterrupt;
            }
            return std::string();
        }
        return line == "?" ? "+KELVOR DSP boot loader 2.4\r\n" : line == "R" ? "+\r\n" : "";
    }

    int records = 0;
    int interruptLine = 0;
    uint32_t queueAtInterrupt = 0;
};

TEST_F(InterruptedUpload, LinesDroppedFromTheQueueAreNeitherCountedNorDigested) {
    // The fifth line whole and five bytes of the fourth: three lines left.
    const report_test::Json record = Run(5, kWireLength + 5);
    EXPECT_EQ(record["outcome"], "interrupted");
    EXPECT_EQ(record["records_sent"], 3);
    EXPECT_EQ(record["sent_sha256"], DigestOfLines(3));
    EXPECT_EQ(port.Count("DiscardOutput"), 1u);
}

// The line during whose write the interrupt came was taken whole: it counts.
// A queue that reads empty (a pseudo-terminal's) is never dropped.
TEST_F(InterruptedUpload, AQueueThatReadsEmptyDropsNothingAndEveryLineTakenCounts) {
    const report_test::Json record = Run(5, 0);
    EXPECT_EQ(record["records_sent"], 5);
    EXPECT_EQ(record["sent_sha256"], DigestOfLines(5));
    EXPECT_EQ(port.Count("DiscardOutput"), 0u);
}

// A driver that keeps its queue through the drop sends it before the close.
TEST_F(InterruptedUpload, WhatTheDriverKeepsThroughTheDropCountsAsSent) {
    port.keptByDiscard = 3 * kWireLength;
    const report_test::Json record = Run(5, 3 * kWireLength);
    EXPECT_EQ(record["records_sent"], 5);
    EXPECT_EQ(record["sent_sha256"], DigestOfLines(5));
}

// Dropped to the first line: no record line left, no digest.
TEST_F(InterruptedUpload, NoLineLeftGivesNoDigest) {
    const report_test::Json record = Run(2, 2 * kWireLength);
    EXPECT_EQ(record["records_sent"], 0);
    EXPECT_TRUE(record["sent_sha256"].is_null());
}

}  // namespace
