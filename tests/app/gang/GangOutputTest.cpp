// How a gang takes its runs' output and events and shows them: lines cut
// from the bytes however they arrive, each event in its place among them,
// phase, progress and outcome from the events alone, the pipe's and the
// terminal's display, the port list and each run's command line.

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/Outcome.h"
#include "app/gang/GangDisplay.h"
#include "app/gang/GangEvents.h"
#include "app/gang/GangMember.h"
#include "app/gang/GangPorts.h"

namespace {

// What a member makes of what it is given, as one text: lines as "L:text",
// error lines as "E:text", progress as "P:lines/percent" (with "!" for the
// last one of the run).
std::string Shown(const std::vector<GangItem>& items) {
    std::string shown;
    for (const GangItem& item : items) {
        if (item.kind == GangItem::Kind::Progress) {
            shown += "P:" + std::to_string(item.lines) + "/" + std::to_string(item.percent) +
                     (item.lastOfRun ? "!" : "") + " ";
        } else {
            shown += (item.kind == GangItem::Kind::Line ? "L:" : "E:") + item.text + " ";
        }
    }
    return shown;
}

std::string Feed(GangMember& member, const std::vector<std::string>& pieces, bool error = false) {
    std::string shown;
    for (const std::string& piece : pieces) {
        shown += Shown(error ? member.TakeErrorOutput(piece) : member.TakeOutput(piece));
    }
    return shown;
}

// Events as a run writes them to its channel, each after shown bytes of its
// standard output.
GangEvent PhaseEvent(SessionPhase phase, uint64_t shown) {
    GangEvent event;
    event.kind = GangEvent::Kind::Phase;
    event.phase = phase;
    event.shown = shown;
    return event;
}

GangEvent BoardEvent(const std::string& identity, uint64_t shown) {
    GangEvent event;
    event.kind = GangEvent::Kind::Board;
    event.identity = identity;
    event.shown = shown;
    return event;
}

GangEvent ProgressEvent(int32_t lines, int percent, bool last, uint64_t shown) {
    GangEvent event;
    event.kind = GangEvent::Kind::Progress;
    event.lines = lines;
    event.percent = percent;
    event.last = last;
    event.shown = shown;
    return event;
}

GangEvent CountEvent(int32_t count, uint64_t shown) {
    GangEvent event;
    event.kind = GangEvent::Kind::Count;
    event.count = count;
    event.shown = shown;
    return event;
}

GangEvent EndEvent(RunOutcome outcome, uint64_t shown = 0) {
    GangEvent event;
    event.kind = GangEvent::Kind::End;
    event.outcome = outcome;
    event.shown = shown;
    return event;
}

std::string Lines(const std::vector<GangEvent>& events) {
    std::string text;
    for (const GangEvent& event : events) {
        text += GangEventLine(event);
    }
    return text;
}

// A download as its run shows it (no progress text: the gang shows that
// from the events) and as it tells it.
const std::string kEstablished = "Established communication: KELVOR 2.4\n";
const std::string kStart = "Start uploading file...\n";
const std::string kUploaded = "File uploaded OK\n";
const std::string kDownload = kEstablished + kStart + kUploaded + "Start command sent to DSP\n";
const uint64_t kAfterStart = kEstablished.size() + kStart.size();
const std::vector<GangEvent> kDownloadEvents = {
    PhaseEvent(SessionPhase::Identify, 0),
    BoardEvent("KELVOR 2.4", kEstablished.size()),
    PhaseEvent(SessionPhase::Upload, kAfterStart),
    ProgressEvent(0, 0, false, kAfterStart),
    ProgressEvent(100, 40, false, kAfterStart),
    ProgressEvent(250, 100, true, kAfterStart),
    PhaseEvent(SessionPhase::Count, kAfterStart),
    CountEvent(250, kAfterStart),
    EndEvent(RunOutcome::Complete, kDownload.size()),
};

TEST(GangMemberEvents, EachEventTakesItsPlaceAmongTheLinesHoweverTheBytesAreCut) {
    const std::string expected =
        "L:Established communication: KELVOR 2.4 L:Start uploading file... P:0/0 P:100/40 "
        "P:250/100! L:File uploaded OK L:Start command sent to DSP ";
    GangMember whole("/dev/ttyUSB0", 0);
    std::string shown = Shown(whole.TakeEvents(Lines(kDownloadEvents)));
    EXPECT_EQ(shown + Feed(whole, {kDownload}), expected);

    GangMember bytewise("/dev/ttyUSB0", 0);
    const std::string events = Lines(kDownloadEvents);
    shown.clear();
    size_t at = 0;
    for (char c : kDownload) {
        // The channel runs ahead of the output by a few bytes at a time.
        shown += Shown(bytewise.TakeEvents(events.substr(std::min(at, events.size()), 7)));
        at += 7;
        shown += Feed(bytewise, {std::string(1, c)});
    }
    shown += Shown(bytewise.TakeEvents(events.substr(std::min(at, events.size()))));
    EXPECT_EQ(shown, expected);
    EXPECT_TRUE(bytewise.End(0, false, false, 1.0).empty());
    EXPECT_EQ(bytewise.Outcome(), RunOutcome::Complete);
    EXPECT_EQ(bytewise.Board(), "KELVOR 2.4");
    EXPECT_EQ(bytewise.LinesUploaded(), 250);
}

TEST(GangMemberEvents, PhaseAndProgressComeFromTheEventsAlone) {
    GangMember member("COM3", 1);
    EXPECT_EQ(member.Phase(), "waiting for the board");
    // What a board says is only shown, whatever it looks like.
    EXPECT_EQ(Feed(member, {"Established communication: X\n250 lines uploaded (100%)\n"}),
              "L:Established communication: X L:250 lines uploaded (100%) ");
    EXPECT_EQ(member.Phase(), "waiting for the board");
    EXPECT_EQ(member.Board(), "");
    EXPECT_EQ(member.LinesUploaded(), 0);
    member.TakeEvents(Lines({BoardEvent("KELVOR 2.4", 0)}));
    EXPECT_EQ(member.Phase(), "connected");
    member.TakeEvents(Lines({PhaseEvent(SessionPhase::Upload, 0), ProgressEvent(0, 0, false, 0)}));
    EXPECT_EQ(member.Phase(), "uploading: 0 lines (0%)");
    member.TakeEvents(Lines({ProgressEvent(1, 100, true, 0), PhaseEvent(SessionPhase::Count, 0)}));
    EXPECT_EQ(member.Phase(), "counting");
    member.TakeEvents(Lines({CountEvent(1, 0)}));
    EXPECT_EQ(member.Phase(), "uploaded");
    // An event line cut anywhere waits for its end; a line that is no event
    // is dropped.
    const std::string flash = GangEventLine(PhaseEvent(SessionPhase::Flash, 0));
    member.TakeEvents("not an event\n{\"event\":\"phase\"}\n" + flash.substr(0, 5));
    EXPECT_EQ(member.Phase(), "uploaded");
    member.TakeEvents(flash.substr(5));
    EXPECT_EQ(member.Phase(), "programming flash");
}

TEST(GangMemberEvents, OutcomeIsTheOneTheRunToldWhateverItsLinesSay) {
    // Every outcome a run can tell arrives as told, whatever the run showed.
    for (int value = 0; OutcomeName(static_cast<RunOutcome>(value)) != nullptr; ++value) {
        const RunOutcome told = static_cast<RunOutcome>(value);
        GangMember member("COM3", 0);
        Feed(member, {"Mismatch: uploaded 1 lines; DSP reported 2 lines received\n"
                      "Error: No answer from the receiver within 5 s\n"});
        Feed(member, {"Error occurred: COMPort: failed to open.\n"}, true);
        member.TakeEvents(Lines({EndEvent(told, 200)}));
        member.End(told == RunOutcome::Complete ? 0 : 1, false, false, 1.0);
        EXPECT_EQ(member.Outcome(), told) << OutcomeName(told);
        EXPECT_EQ(member.Phase(), OutcomeName(told));
    }
    // A run that told it was complete and still failed (its record could not
    // be written) is not complete.
    GangMember unwritten("COM3", 0);
    unwritten.TakeEvents(Lines({EndEvent(RunOutcome::Complete)}));
    unwritten.End(1, false, false, 1.0);
    EXPECT_EQ(unwritten.Outcome(), RunOutcome::Failed);
}

TEST(GangMemberEvents, RunThatToldNothingIsInterruptedOrFailed) {
    GangMember interrupted("COM3", 0);
    interrupted.End(-1, true, false, 1.0);
    EXPECT_EQ(interrupted.Outcome(), RunOutcome::Interrupted);
    GangMember sent("COM3", 0);
    sent.End(1, false, true, 1.0);
    EXPECT_EQ(sent.Outcome(), RunOutcome::Interrupted) << "the gang passed on an interrupt";
    GangMember crashed("COM3", 0);
    crashed.End(139, false, false, 1.0);
    EXPECT_EQ(crashed.Outcome(), RunOutcome::Failed);
    // A Windows run ended by Ctrl-C under Wine exits with status 0.
    GangMember early("COM3", 0);
    early.End(0, false, false, 1.0);
    early.GangInterrupted();
    EXPECT_EQ(early.Outcome(), RunOutcome::Interrupted);
}

TEST(GangMemberEvents, TextAndProgressLeftOpenAreShownAtTheEnd) {
    GangMember member("COM3", 0);
    member.TakeEvents(Lines({ProgressEvent(100, 40, false, 0)}));
    Feed(member, {"half a line"});
    Feed(member, {"Error occurred: COMPort: read failed."}, true);
    member.TakeEvents(Lines({EndEvent(RunOutcome::PortError, 11)}));
    EXPECT_EQ(Shown(member.End(1, false, false, 2.5)),
              "L:half a line E:Error occurred: COMPort: read failed. P:100/40! ");
    EXPECT_EQ(member.Outcome(), RunOutcome::PortError);
    EXPECT_EQ(member.Seconds(), 2.5);
}

TEST(GangMemberEvents, EveryEventReadsBackAsWritten) {
    GangEvent flash;
    flash.kind = GangEvent::Kind::Flash;
    flash.acknowledged = true;
    GangEvent start;
    start.kind = GangEvent::Kind::Start;
    std::vector<GangEvent> events = kDownloadEvents;
    events.push_back(flash);
    events.push_back(start);
    events.push_back(BoardEvent("odd \"name\"\twith\\", 3));
    for (const GangEvent& event : events) {
        std::string line = GangEventLine(event);
        ASSERT_EQ(line.back(), '\n');
        line.pop_back();
        const std::optional<GangEvent> back = ParseGangEvent(line);
        ASSERT_TRUE(back.has_value()) << line;
        EXPECT_EQ(GangEventLine(*back), GangEventLine(event));
    }
    EXPECT_FALSE(ParseGangEvent("{\"event\":\"end\",\"shown\":0,\"outcome\":\"great\"}"));
    EXPECT_FALSE(ParseGangEvent("{\"event\":\"progress\",\"shown\":0,\"lines\":\"many\"}"));
    EXPECT_FALSE(ParseGangEvent("[1,2]"));
}

struct Screen {
    std::string out;
    std::string err;
    GangDisplay::Writer Writer() {
        return [this](bool toError, const std::string& text) { (toError ? err : out) += text; };
    }
};

GangItem ProgressItem(int lines, int percent, bool last = false) {
    GangItem item;
    item.kind = GangItem::Kind::Progress;
    item.lines = lines;
    item.percent = percent;
    item.lastOfRun = last;
    return item;
}

TEST(GangDisplayOutput, ThroughAPipeProgressIsAWholeLineAtMostOnceASecondAndAlwaysTheLast) {
    std::vector<GangMember> members = {{"/dev/ttyUSB0", 0}, {"/dev/ttyUSB1", 1}};
    Screen screen;
    GangDisplay display(members, {"ttyUSB0", "ttyUSB1"}, false, 80, screen.Writer());
    display.Show(0, ProgressItem(0, 0), 10.0);
    display.Show(1, ProgressItem(0, 0), 10.1);
    display.Show(0, ProgressItem(100, 40), 10.5);
    display.Show(0, ProgressItem(200, 80), 11.0);
    display.Show(0, ProgressItem(250, 100, true), 11.2);
    display.Show(1, {GangItem::Kind::ErrorLine, "Error occurred: COMPort: write failed."}, 11.3);
    display.Refresh(12.0);
    EXPECT_EQ(screen.out,
              "[ttyUSB0] 0 lines uploaded (0%)\n[ttyUSB1] 0 lines uploaded (0%)\n"
              "[ttyUSB0] 200 lines uploaded (80%)\n[ttyUSB0] 250 lines uploaded (100%)\n");
    EXPECT_EQ(screen.err, "[ttyUSB1] Error occurred: COMPort: write failed.\n");
}

TEST(GangDisplayOutput, OnATerminalTheStatusBlockIsRedrawnInPlaceUnderTheLines) {
    std::vector<GangMember> members = {{"COM3", 0}, {"COM4", 1}};
    members[0].TakeEvents(
        Lines({PhaseEvent(SessionPhase::Upload, 0), ProgressEvent(100, 40, false, 0)}));
    Screen screen;
    GangDisplay display(members, {"COM3", "COM4"}, true, 24, screen.Writer());
    display.Refresh(1.0);
    // Too narrow for the whole phase: the figure stays whole.
    EXPECT_EQ(screen.out, "[COM3] 100 lines (40%)\n[COM4] waiting for the \n");
    screen.out.clear();
    display.Show(0, ProgressItem(100, 40), 1.05);
    display.Refresh(1.05);
    EXPECT_EQ(screen.out, "") << "not redrawn within kRedrawSeconds for progress";
    display.Show(1, {GangItem::Kind::Line, "Established communication: X"}, 1.06);
    display.Refresh(1.06);
    EXPECT_EQ(screen.out,
              "\x1b[2A\r\x1b[J[COM4] Established communication: X\n"
              "[COM3] 100 lines (40%)\n[COM4] waiting for the \n");
    screen.out.clear();
    display.Close();
    EXPECT_EQ(screen.out, "\x1b[2A\r\x1b[J");
}

// At 40 columns a long port name is cut, its end kept, never the figure.
TEST(GangDisplayOutput, ANarrowTerminalCutsThePortsNameNeverTheFigure) {
    std::vector<GangMember> members = {{"usb:0403:6001:A50285BI", 0}, {"COM4", 1}};
    members[0].TakeEvents(
        Lines({PhaseEvent(SessionPhase::Upload, 0), ProgressEvent(1200, 45, false, 0)}));
    members[1].TakeEvents(
        Lines({PhaseEvent(SessionPhase::Upload, 0), ProgressEvent(900, 33, false, 0)}));
    Screen screen;
    GangDisplay display(members, {"usb:0403:6001:A50285BI", "COM4"}, true, 40, screen.Writer());
    display.Refresh(1.0);
    EXPECT_EQ(screen.out,
              "[~A50285BI] uploading: 1200 lines (45%)\n"
              "[COM4] uploading: 900 lines (33%)\n");
}

TEST(GangSummaryTable, ColumnsAlignAndTheTallyCountsTheCompleteOnes) {
    std::vector<GangMember> members = {{"/dev/ttyUSB0", 0}, {"COM12", 1}};
    members[0].TakeEvents(Lines({BoardEvent("KELVOR 2.4", 0), ProgressEvent(1200, 100, true, 0),
                                 EndEvent(RunOutcome::Complete)}));
    members[0].End(0, false, false, 4.25);
    members[1].End(1, false, false, 0.04);
    EXPECT_EQ(FormatGangSummary(members),
              "Gang summary:\n"
              "Port          Board       Outcome   Records  Seconds\n"
              "/dev/ttyUSB0  KELVOR 2.4  complete     1200      4.2\n"
              "COM12         -           failed          0      0.0\n"
              "1 of 2 ports complete.\n");
}

TEST(GangSummaryTable, BoardAfterBoardTalliesEachPortAndARunEndedOutrightIsSaid) {
    std::vector<GangMember> members = {{"COM3", 0}, {"COM4", 1}};
    GangEvent complete = EndEvent(RunOutcome::Complete);
    complete.kind = GangEvent::Kind::BoardEnd;
    GangEvent mismatch = EndEvent(RunOutcome::CountMismatch);
    mismatch.kind = GangEvent::Kind::BoardEnd;
    members[0].TakeEvents(
        Lines({BoardEvent("K", 0), complete, complete, complete, EndEvent(RunOutcome::Complete)}));
    members[0].End(0, false, false, 30.0);
    members[1].TakeEvents(Lines({complete, mismatch}));
    members[1].KilledAfter(10);
    members[1].End(-1, false, true, 41.0);
    EXPECT_EQ(FormatGangSummary(members),
              "Gang summary:\n"
              "Port  Board  Outcome      Records  Seconds  Complete  Failed\n"
              "COM3  K      complete           0     30.0         3       0\n"
              "COM4  -      interrupted        0     41.0         1       1\n"
              "1 of 2 ports complete.\n"
              "Boards in all: 4 complete, 1 failed.\n"
              "The run for port COM4 had not ended 10 s after the interrupt and was ended "
              "outright; its record may be missing.\n");
}

TEST(GangPortList, SplitAtCommasAndShortNames) {
    std::vector<std::string> ports;
    std::string problem;
    ASSERT_TRUE(SplitGangPorts("/dev/ttyUSB0,usb:0403:6001,\\\\.\\COM12", ports, problem));
    EXPECT_EQ(ports, (std::vector<std::string>{"/dev/ttyUSB0", "usb:0403:6001", "\\\\.\\COM12"}));
    EXPECT_EQ(GangPortNames(ports),
              (std::vector<std::string>{"ttyUSB0", "usb:0403:6001", "COM12"}));
    EXPECT_EQ(GangPortNames({"/dev/pts/3", "/dev/pts/12"}),
              (std::vector<std::string>{"pts/3", "pts/12"}));
    EXPECT_EQ(GangPortNames({"/a/tty1", "/b/tty1"}),
              (std::vector<std::string>{"/a/tty1", "/b/tty1"}));
    EXPECT_FALSE(SplitGangPorts(",COM3", ports, problem));
    EXPECT_EQ(problem, "An entry of the list is empty.");
}

TEST(GangRunCommandLine, EverySwitchPassesButTheGangWhichBecomesOnePort) {
    const char* given[] = {"vantoir", "-B", "9600",   "--gang", "A,B", "-F",
                           "--gang",  "-D", "--GANG", "C",      "-W"};
    char* arguments[11];
    for (int i = 0; i < 11; ++i) {
        arguments[i] = const_cast<char*>(given[i]);
    }
    EXPECT_EQ(GangMemberArguments(11, arguments, "/bin/vantoir", "B"),
              (std::vector<std::string>{"/bin/vantoir", "-B", "9600", "-P", "B", "-F", "--gang",
                                        "-D", "-W", "--gang-member"}));
}

}  // namespace
