// The output lines set by a sequence (serial/LineSequence.h) and held by
// COMPort through every later set-up of the line.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FakePortPlatform.h"
#include "MessageOf.h"
#include "errors/PortError.h"
#include "serial/COMPort.h"
#include "serial/LineSequence.h"
#include "serial/SerialMessages.h"

namespace {

struct Refused {
    const char* text;
    const char* why;
};

TEST(LineSequenceText, MalformedSequencesAreRefusedWithTheirReason) {
    const std::string notAStep =
        " is neither a wait (1ms to 60000ms) nor a setting of DTR or RTS (dtr=1, rts=0, "
        "dtr=0+rts=1).";
    const Refused cases[] = {
        {"", "The sequence is empty."},
        {"dtr=1,", "The sequence has an empty step."},
        {",dtr=1", "The sequence has an empty step."},
        {"dtr=1,,rts=0", "The sequence has an empty step."},
        {"dtr=1+dtr=0", "The step dtr=1+dtr=0 names DTR twice."},
        {"rts=0+dtr=1+rts=1", "The step rts=0+dtr=1+rts=1 names RTS twice."},
        {"0ms", "The wait 0ms is not 1ms to 60000ms."},
        {"60001ms", "The wait 60001ms is not 1ms to 60000ms."},
        {"99999999999ms", "The wait 99999999999ms is not 1ms to 60000ms."},
        {"DTR=1", nullptr},
        {"dtr=2", nullptr},
        {"dtr = 1", nullptr},
        {"dtr=1+", nullptr},
        {"ms", nullptr},
        {"5s", nullptr},
        {"dsr=1", nullptr},
    };
    for (const Refused& refused : cases) {
        LineSequence sequence;
        std::string why;
        EXPECT_FALSE(ParseLineSequence(refused.text, sequence, why)) << refused.text;
        if (refused.why != nullptr) {
            EXPECT_EQ(why, refused.why);
        } else {
            const std::string step = std::string(refused.text);
            EXPECT_EQ(why, "The step " + step + notAStep) << refused.text;
        }
    }
}

TEST(LineSequenceText, StepsAreWaitsOrChangesOfOneOrBothLines) {
    LineSequence sequence;
    std::string why;
    ASSERT_TRUE(
        ParseLineSequence("dtr=1+rts=1,100ms,rts=0,60000ms,dtr=0,1ms,rts=1+dtr=0", sequence, why));
    ASSERT_EQ(sequence.steps.size(), 7u);
    const int expected[7][3] = {{0, 1, 1},  {100, -1, -1}, {0, -1, 0}, {60000, -1, -1},
                                {0, 0, -1}, {1, -1, -1},   {0, 0, 1}};
    for (size_t i = 0; i < sequence.steps.size(); ++i) {
        EXPECT_EQ(sequence.steps[i].waitMs, static_cast<uint32_t>(expected[i][0])) << i;
        EXPECT_EQ(sequence.steps[i].dtr, expected[i][1]) << i;
        EXPECT_EQ(sequence.steps[i].rts, expected[i][2]) << i;
    }
}

TEST(LineSequenceText, StartSignalIsAnInputLineAndALevel) {
    LineLevel level;
    std::string why;
    ASSERT_TRUE(ParseLineLevel("dsr=1", level, why));
    EXPECT_EQ(level.modemBit, kModemDsr);
    EXPECT_TRUE(level.asserted);
    ASSERT_TRUE(ParseLineLevel("dcd=0", level, why));
    EXPECT_EQ(level.modemBit, kModemCarrier);
    EXPECT_FALSE(level.asserted);
    ASSERT_TRUE(ParseLineLevel("ri=1", level, why));
    EXPECT_EQ(level.modemBit, kModemRing);
    ASSERT_TRUE(ParseLineLevel("cts=1", level, why));
    EXPECT_EQ(level.modemBit, kModemCts);
    for (const char* text : {"dtr=1", "dsr", "dsr=", "dsr=2", "DSR=1", "dsr=10", ""}) {
        EXPECT_FALSE(ParseLineLevel(text, level, why)) << text;
        EXPECT_EQ(why,
                  "A start signal is an input line and a level: dsr, dcd, ri or cts, =0 or "
                  "=1 (dsr=1).");
    }
}

class HeldLines : public ::testing::Test {
  protected:
    FakePortPlatform platform;
    COMPort* owned = new COMPort("COM1", platform);
    COMPort& port = *owned;
    void TearDown() override { delete owned; }

    void Run(const char* text) {
        LineSequence sequence;
        std::string why;
        ASSERT_TRUE(ParseLineSequence(text, sequence, why)) << why;
        RunLineSequence(port, sequence, true);
    }
};

TEST_F(HeldLines, EachStepIsOneChangeOfBothLinesInOrder) {
    port.Configure(115200, 50);
    platform.calls.clear();
    Run("dtr=1+rts=1,1ms,rts=0,dtr=0");
    EXPECT_EQ(platform.calls,
              (std::vector<std::string>{"SetModemLines", "SetModemLines", "SetModemLines"}));
    const std::vector<PortState>& changes = platform.lineChanges;
    ASSERT_EQ(changes.size(), 3u);
    EXPECT_EQ(changes[0].dtrControl, kDtrControlEnable);
    EXPECT_EQ(changes[0].rtsControl, kRtsControlEnable);
    EXPECT_EQ(changes[1].dtrControl, kDtrControlEnable);
    EXPECT_EQ(changes[1].rtsControl, kRtsControlDisable);
    EXPECT_EQ(changes[2].dtrControl, kDtrControlDisable);
    EXPECT_EQ(changes[2].rtsControl, kRtsControlDisable);
    for (const PortState& change : changes) {
        EXPECT_TRUE(change.linesHeld);
    }
}

TEST_F(HeldLines, ALineTheSequenceNeverNamesKeepsWhatAPlainRunGivesIt) {
    port.Configure(115200, 50);
    Run("dtr=1");
    ASSERT_EQ(platform.lineChanges.size(), 1u);
    EXPECT_EQ(platform.lineChanges[0].rtsControl, kRtsControlEnable);
}

TEST_F(HeldLines, EveryLaterSetUpCarriesTheLinesAndNothingReassertsRts) {
    port.Configure(115200, 50);
    Run("rts=0,dtr=1");
    platform.appliedStates.clear();
    port.Configure(115200, 3000);
    port.SetBaudRate(9600);
    ASSERT_FALSE(platform.appliedStates.empty());
    for (const PortState& applied : platform.appliedStates) {
        EXPECT_TRUE(applied.linesHeld);
        EXPECT_EQ(applied.rtsControl, kRtsControlDisable);
        EXPECT_EQ(applied.dtrControl, kDtrControlEnable);
    }
}

TEST_F(HeldLines, PortThatCannotDriveItsLinesIsRefusedWithAReason) {
    platform.refused.insert("CanSetModemLines");
    try {
        port.CheckModemLines();
        FAIL() << "no refusal";
    } catch (const PortError& error) {
        EXPECT_STREQ(error.what(), messages::kPortModemLinesFailed);
        EXPECT_EQ(DetailOf(error), messages::kPortCannotSetLines);
    }
    platform.refused.insert("SetModemLines");
    EXPECT_EQ(MessageOf([&] { port.SetModemLines(1, -1); }), messages::kPortModemLinesFailed);
}

TEST(HeldLinesOnClose, AnEarlyEndPutsBackTheFoundSettingsButNotTheFoundLines) {
    FakePortPlatform platform;
    {
        COMPort port("COM1", platform);
        // Still with the handshake of the preparation: the found settings
        // are put back at the end, except the lines.
        port.SetModemLines(1, 0);
    }
    EXPECT_EQ(platform.state.dtrControl, kDtrControlEnable);
    EXPECT_EQ(platform.state.rtsControl, kRtsControlDisable);
    EXPECT_FALSE(platform.state.outxCtsFlow);
    EXPECT_EQ(platform.calls.back(), "Close");
}

}  // namespace
