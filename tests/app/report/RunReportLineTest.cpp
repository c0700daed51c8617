// The record of a run as RunReport makes it from what the session tells,
// read back as JSON; and its file taking whole lines at its end.

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/report/RunReport.h"
#include "tests/text/TempFile.h"

namespace {

using Json = nlohmann::json;

std::vector<std::string> LinesOf(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(file, line)) {
        lines.push_back(line);
    }
    return lines;
}

class RunRecord : public ::testing::Test {
  protected:
    void SetUp() override {
        settings.portName = "COM3";
        settings.dataFile = imagePath.c_str();
        settings.writeFlash = 1;
    }

    testfiles::TempFile image{":00000001FF\n"};
    testfiles::TempFile reportFile{""};
    const std::string imagePath = image.Path();
    const std::string reportPath = reportFile.Path();
    Settings settings;
};

TEST_F(RunRecord, CompleteSessionGivesEveryKeyOfTheRun) {
    RunReport report(reportPath.c_str(), settings);
    report.SetDevice("\\\\.\\COM3");
    report.SetUsb("0403:6001", std::string("A50285BI"));
    report.OnPhase(SessionPhase::Identify);
    report.OnBoardIdentified("KELVOR 2.4");
    report.OnBoardMessage("Ready");
    report.OnPhase(SessionPhase::Request);
    report.OnPhase(SessionPhase::Upload);
    report.OnRecordsSent(1);
    report.OnPhase(SessionPhase::Count);
    report.OnCountConfirmed(1);
    report.OnPhase(SessionPhase::Flash);
    report.OnFlash(true);
    report.OnPhase(SessionPhase::Start);
    report.OnStartSent();
    report.OnOutcome(SessionOutcome::Complete, "");
    const Json record = Json::parse(report.Line(RunEndKind::Normal, 0, "", nullptr));

    EXPECT_EQ(record["mode"], "download");
    EXPECT_EQ(record["port"], "COM3");
    EXPECT_EQ(record["device"], "\\\\.\\COM3");
    EXPECT_EQ(record["usb"]["id"], "0403:6001");
    EXPECT_EQ(record["usb"]["serial"], "A50285BI");
    EXPECT_EQ(record["file_bytes"], 12);
    EXPECT_EQ(record["file_sha256"].get<std::string>().size(), 64u);
    EXPECT_EQ(record["board"], "KELVOR 2.4");
    EXPECT_EQ(record["board_messages"], Json::array({"Ready"}));
    EXPECT_EQ(record["records_sent"], 1);
    EXPECT_EQ(record["records_confirmed"], 1);
    EXPECT_EQ(record["flash"], "acknowledged");
    EXPECT_EQ(record["start_sent"], true);
    EXPECT_EQ(record["outcome"], "complete");
    EXPECT_TRUE(record["error"].is_null());
    EXPECT_EQ(record["exit_status"], 0);
    EXPECT_EQ(record["phases"].size(), 4u);
}

TEST_F(RunRecord, OutcomeFollowsHowTheRunEnded) {
    RunReport report(reportPath.c_str(), settings);
    EXPECT_STREQ(OutcomeName(report.OutcomeFor(RunEndKind::PortError)), "port-error");
    EXPECT_STREQ(OutcomeName(report.OutcomeFor(RunEndKind::ProgramError)), "file-error");
    EXPECT_STREQ(OutcomeName(report.OutcomeFor(RunEndKind::Interrupted)), "interrupted");
    // The session's own outcome stands when a signal comes after it.
    report.OnOutcome(SessionOutcome::CountMismatch, "Mismatch: uploaded 1 lines");
    EXPECT_STREQ(OutcomeName(report.OutcomeFor(RunEndKind::Interrupted)), "count-mismatch");
    EXPECT_STREQ(OutcomeName(report.OutcomeFor(RunEndKind::PortError)), "port-error");
    // One set from outside (a refused image) stands whatever the end.
    report.SetOutcome(RunOutcome::ImageRefused);
    EXPECT_STREQ(OutcomeName(report.OutcomeFor(RunEndKind::ProgramError)), "image-refused");

    settings.mode = ModeConsole;
    RunReport console(reportPath.c_str(), settings);
    EXPECT_STREQ(OutcomeName(console.OutcomeFor(RunEndKind::Interrupted)), "ended");
    EXPECT_STREQ(OutcomeName(console.OutcomeFor(RunEndKind::Normal)), "ended");
}

TEST_F(RunRecord, BoardMessagesStopAtAHundredAndTheRestAreCounted) {
    RunReport report(reportPath.c_str(), settings);
    for (int i = 0; i < 130; ++i) {
        report.OnBoardMessage(("line " + std::to_string(i)).c_str());
    }
    const Json record = Json::parse(report.Line(RunEndKind::Normal, 0, "", nullptr));
    EXPECT_EQ(record["board_messages"].size(), RunReport::kMaxBoardMessages);
    EXPECT_EQ(record["board_messages"][99], "line 99");
    EXPECT_EQ(record["board_messages_omitted"], 30);
}

TEST_F(RunRecord, UnreadableDataFileAndFlashNotReachedAreSaidSo) {
    settings.dataFile = "no such file here.hex";
    RunReport report(reportPath.c_str(), settings);
    const Json record = Json::parse(report.Line(RunEndKind::ProgramError, 1, "x\n", nullptr));
    EXPECT_TRUE(record["file_bytes"].is_null());
    EXPECT_TRUE(record["file_sha256"].is_null());
    EXPECT_EQ(record["flash"], "not-acknowledged");
    EXPECT_TRUE(record["records_confirmed"].is_null());
}

TEST_F(RunRecord, EachBoardOfARunIsARecordOfItsOwn) {
    RunReport report(reportPath.c_str(), settings);
    EXPECT_TRUE(report.Pending());
    report.SetBoardNumber(1);
    report.OnBoardIdentified("first");
    EXPECT_TRUE(report.Write(RunEndKind::Normal, 0, "", nullptr));
    EXPECT_FALSE(report.Pending());
    report.StartBoard(2);
    EXPECT_TRUE(report.Pending());
    EXPECT_TRUE(report.Write(RunEndKind::Normal, 0, "", nullptr));
    report.StartBoard(3);
    report.Discard();
    EXPECT_FALSE(report.Pending());

    const std::vector<std::string> lines = LinesOf(reportPath);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(Json::parse(lines[0])["board_number"], 1);
    EXPECT_EQ(Json::parse(lines[0])["board"], "first");
    EXPECT_EQ(Json::parse(lines[1])["board_number"], 2);
    EXPECT_TRUE(Json::parse(lines[1])["board"].is_null());
}

}  // namespace
