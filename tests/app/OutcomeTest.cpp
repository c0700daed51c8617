// The one list of outcomes: every outcome has a name of its own that reads
// back as that outcome, and a run's end makes the outcome its record, tally
// and gang give.

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "app/Outcome.h"

namespace {

TEST(Outcome, EveryOutcomeHasANameOfItsOwnThatReadsBack) {
    std::set<std::string> names;
    for (int value = 0; OutcomeName(static_cast<RunOutcome>(value)) != nullptr; ++value) {
        const RunOutcome outcome = static_cast<RunOutcome>(value);
        EXPECT_TRUE(names.insert(OutcomeName(outcome)).second) << OutcomeName(outcome);
        EXPECT_EQ(OutcomeNamed(OutcomeName(outcome)), outcome);
    }
    EXPECT_EQ(names.count("failed"), 1u);
    EXPECT_EQ(OutcomeNamed("Complete"), std::nullopt);
    EXPECT_EQ(OutcomeNamed(""), std::nullopt);
    EXPECT_STREQ(OutcomeName(OutcomeOf(SessionOutcome::FileReadFailed)), "file-error");
    EXPECT_STREQ(OutcomeName(OutcomeOf(SessionOutcome::FlashNotAcknowledged)),
                 "flash-not-acknowledged");
}

TEST(Outcome, RunsEndMakesItsOutcome) {
    const RunOutcome mismatch = RunOutcome::CountMismatch;
    // The image check's outcome stands whatever the end.
    EXPECT_EQ(OutcomeOfRun({RunEndKind::PortError, false, RunOutcome::ImageRefused, mismatch}),
              RunOutcome::ImageRefused);
    EXPECT_EQ(OutcomeOfRun({RunEndKind::PortError, false, {}, mismatch}), RunOutcome::PortError);
    EXPECT_EQ(OutcomeOfRun({RunEndKind::ProgramError, false, {}, {}}), RunOutcome::FileError);
    // The session's own ending stands when an interrupt comes after it.
    EXPECT_EQ(OutcomeOfRun({RunEndKind::Interrupted, false, {}, mismatch}), mismatch);
    EXPECT_EQ(OutcomeOfRun({RunEndKind::Interrupted, false, {}, {}}), RunOutcome::Interrupted);
    EXPECT_EQ(OutcomeOfRun({RunEndKind::Interrupted, true, {}, {}}), RunOutcome::Ended);
    EXPECT_EQ(OutcomeOfRun({RunEndKind::Normal, false, {}, RunOutcome::Complete}),
              RunOutcome::Complete);
    EXPECT_EQ(OutcomeOfRun({RunEndKind::Normal, false, {}, {}}), RunOutcome::Ended);
}

TEST(Outcome, ARunThatEndsWithAFailingStatusIsNotComplete) {
    EXPECT_EQ(OutcomeOfEnd(RunOutcome::Complete, 0), RunOutcome::Complete);
    EXPECT_EQ(OutcomeOfEnd(RunOutcome::Complete, 1), RunOutcome::Failed);
    EXPECT_EQ(OutcomeOfEnd(RunOutcome::Complete, std::nullopt), RunOutcome::Complete);
    EXPECT_EQ(OutcomeOfEnd(RunOutcome::CountMismatch, 1), RunOutcome::CountMismatch);
    EXPECT_EQ(OutcomeOfPort(RunOutcome::Complete, 1, false), RunOutcome::Failed);
    EXPECT_EQ(OutcomeOfPort(std::nullopt, -1, true), RunOutcome::Interrupted);
    EXPECT_EQ(OutcomeOfPort(std::nullopt, -1, false), RunOutcome::Failed);
}

}  // namespace
