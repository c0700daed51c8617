// The record of a run as RunReport makes it from what the run and its
// session tell, read back as JSON.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/report/RunReport.h"
#include "tests/text/TempFile.h"

namespace {

using Json = nlohmann::json;

class RunRecord : public ::testing::Test {
  protected:
    void SetUp() override {
        settings.portName = "COM3";
        settings.dataFile = imagePath.c_str();
        settings.writeFlash = 1;
    }

    testfiles::TempFile image{":00000001FF\n"};
    const std::string imagePath = image.Path();
    Settings settings;
};

TEST_F(RunRecord, CompleteSessionGivesEveryKeyOfTheRun) {
    RunReport report(settings);
    report.OnPort({"\\\\.\\COM3", std::string("0403:6001"), std::string("A50285BI")});
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
    const Json record = Json::parse(report.Make(RunOutcome::Complete, 0, "", nullptr));

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

TEST_F(RunRecord, OutcomeAndErrorAreAsTheRunDecidedThem) {
    RunReport report(settings);
    report.OnOutcome(SessionOutcome::CountMismatch, "Mismatch: uploaded 1 lines");
    Json record = Json::parse(report.Make(RunOutcome::CountMismatch, 1, "", nullptr));
    EXPECT_EQ(record["outcome"], "count-mismatch");
    EXPECT_EQ(record["error"], "Mismatch: uploaded 1 lines");
    // What went to standard error stands before the session's message.
    record = Json::parse(report.Make(RunOutcome::PortError, 1, "Error occurred: x\n", nullptr));
    EXPECT_EQ(record["error"], "Error occurred: x");
    // A refused image: its summary is the error, its findings as shown.
    report.OnImageRefused({"x.hex: image refused: 1 finding", {"x.hex:2: no colon"}});
    record = Json::parse(report.Make(RunOutcome::ImageRefused, 1, "", nullptr));
    EXPECT_EQ(record["error"], "x.hex: image refused: 1 finding");
    EXPECT_EQ(record["findings"], Json::array({"x.hex:2: no colon"}));
    record = Json::parse(report.Make(RunOutcome::Interrupted, std::nullopt, "", "SIGINT"));
    EXPECT_TRUE(record["exit_status"].is_null());
    EXPECT_EQ(record["signal"], "SIGINT");
}

TEST_F(RunRecord, BoardMessagesStopAtAHundredAndTheRestAreCounted) {
    RunReport report(settings);
    for (int i = 0; i < 130; ++i) {
        report.OnBoardMessage(("line " + std::to_string(i)).c_str());
    }
    const Json record = Json::parse(report.Make(RunOutcome::Complete, 0, "", nullptr));
    EXPECT_EQ(record["board_messages"].size(), RunReport::kMaxBoardMessages);
    EXPECT_EQ(record["board_messages"][99], "line 99");
    EXPECT_EQ(record["board_messages_omitted"], 30);
}

TEST_F(RunRecord, UnreadableDataFileAndFlashNotReachedAreSaidSo) {
    settings.dataFile = "no such file here.hex";
    RunReport report(settings);
    const Json record = Json::parse(report.Make(RunOutcome::FileError, 1, "x\n", nullptr));
    EXPECT_TRUE(record["file_bytes"].is_null());
    EXPECT_TRUE(record["file_sha256"].is_null());
    EXPECT_EQ(record["flash"], "not-acknowledged");
    EXPECT_TRUE(record["records_confirmed"].is_null());
}

TEST_F(RunRecord, EachBoardOfARunIsARecordOfItsOwn) {
    RunReport report(settings);
    EXPECT_TRUE(report.Pending());
    report.OnBoardBegin({1, std::nullopt});
    report.OnBoardIdentified("first");
    const Json first = Json::parse(report.Make(RunOutcome::Complete, 0, "", nullptr));
    EXPECT_FALSE(report.Pending());
    report.OnBoardBegin({2, std::nullopt});
    EXPECT_TRUE(report.Pending());
    const Json second = Json::parse(report.Make(RunOutcome::Complete, 0, "", nullptr));
    report.OnBoardBegin({3, std::nullopt});
    report.Discard();
    EXPECT_FALSE(report.Pending());

    EXPECT_EQ(first["board_number"], 1);
    EXPECT_EQ(first["board"], "first");
    EXPECT_EQ(second["board_number"], 2);
    EXPECT_TRUE(second["board"].is_null());
}

}  // namespace
