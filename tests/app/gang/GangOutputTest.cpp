// How a gang reads its runs' output and shows it: lines and progress cut
// from the bytes however they arrive, the outcome from the messages, the
// pipe's and the terminal's display, the port list and each run's command
// line.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/gang/GangDisplay.h"
#include "app/gang/GangMember.h"
#include "app/gang/GangPorts.h"

namespace {

// What a member makes of output given in pieces, as one text: lines as
// "L:text", error lines as "E:text", progress as "P:lines/percent" (with "!"
// for the last one of the run).
std::string Feed(GangMember& member, const std::vector<std::string>& pieces, bool error = false) {
    std::string shown;
    for (const std::string& piece : pieces) {
        for (const GangItem& item :
             error ? member.TakeErrorOutput(piece) : member.TakeOutput(piece)) {
            if (item.kind == GangItem::Kind::Progress) {
                shown += "P:" + std::to_string(item.lines) + "/" + std::to_string(item.percent) +
                         (item.lastOfRun ? "!" : "") + " ";
            } else {
                shown += (item.kind == GangItem::Kind::Line ? "L:" : "E:") + item.text + " ";
            }
        }
    }
    return shown;
}

const std::string kDownload =
    "Parsed command line: --gang-member -P /dev/ttyUSB0 -F a.hex\n"
    "Established communication: KELVOR 2.4\n"
    "Start uploading file...\n"
    "\r0 lines uploaded (0%)\r100 lines uploaded (40%)\r250 lines uploaded (100%)\n"
    "File uploaded OK\n"
    "Start command sent to DSP\n";

TEST(GangMemberOutput, LinesAndProgressComeOutTheSameHoweverTheBytesAreCut) {
    GangMember whole("/dev/ttyUSB0", "a.hex");
    const std::string expected =
        "L:Established communication: KELVOR 2.4 L:Start uploading file... P:0/0 P:100/40 "
        "P:250/100! L:File uploaded OK L:Start command sent to DSP ";
    EXPECT_EQ(Feed(whole, {kDownload}), expected);
    GangMember bytewise("/dev/ttyUSB0", "a.hex");
    std::vector<std::string> bytes;
    for (char c : kDownload) {
        bytes.emplace_back(1, c);
    }
    // Byte by byte, the last progress text shows before its line has ended.
    std::string early = expected;
    early.insert(early.find("P:250/100!"), "P:250/100 ");
    EXPECT_EQ(Feed(bytewise, bytes), early);
    EXPECT_TRUE(bytewise.End(0, false, false).empty());
    EXPECT_EQ(bytewise.Outcome(), GangOutcome::Complete);
    EXPECT_EQ(bytewise.Board(), "KELVOR 2.4");
    EXPECT_EQ(bytewise.LinesUploaded(), 250);
}

TEST(GangMemberOutput, ProgressShowsBeforeItsLineEndsAndDebugEchoesAfterItAreLines) {
    GangMember member("COM3", "a.hex");
    Feed(member, {"echo\n", "Start uploading file...\n"});
    EXPECT_EQ(Feed(member, {"\r0 lines uploaded (0%)"}), "P:0/0 ");
    EXPECT_EQ(member.Phase(), "uploading: 0 lines (0%)");
    // -D: the echo of the next record follows the progress text on its line;
    // the Windows C runtime writes CR LF for each LF.
    EXPECT_EQ(Feed(member, {"Sent: :00000001FF\r\r\n\r\n", "\r1 lines uploaded (100%)\r\n"}),
              "L:Sent: :00000001FF L: P:1/100! ");
    EXPECT_EQ(member.Phase(), "counting");
}

TEST(GangMemberOutput, OutcomeComesFromTheMessagesAndTheEnd) {
    struct Case {
        std::string out;
        std::string err;
        int status;
        bool interrupted;
        GangOutcome outcome;
    };
    const Case cases[] = {
        {"File uploaded OK\n", "", 0, false, GangOutcome::Complete},
        {"Error: Refusing to continue process with 0 valid lines found in file\n", "", 1, false,
         GangOutcome::NoRecords},
        {"Mismatch: uploaded 3 lines; DSP reported 4 lines received\n", "", 1, false,
         GangOutcome::CountMismatch},
        {"File uploaded OK\nError: Flash Write command was not acknowledged\n", "", 1, false,
         GangOutcome::FlashNotAcknowledged},
        {"Error: Count command was not acknowledged within 5 s\n", "", 1, false,
         GangOutcome::Timeout},
        {"", "Error occurred: COMPort: failed to open.\n", 1, false, GangOutcome::PortError},
        {"", "Can't open file a.hex for upload\n", 1, false, GangOutcome::FileError},
        {"", "Error reading file a.hex\n", 1, false, GangOutcome::FileError},
        {"", "a.hex:3: checksum\n", 1, false, GangOutcome::ImageRefused},
        {"Start uploading file...\n", "", -1, true, GangOutcome::Interrupted},
        {"File uploaded OK\n", "", -1, true, GangOutcome::Interrupted},
        {"", "", 139, false, GangOutcome::Failed},
    };
    for (const Case& c : cases) {
        GangMember member("COM3", "a.hex");
        Feed(member, {"echo\n" + c.out});
        Feed(member, {c.err}, true);
        member.End(c.status, c.interrupted, false);
        EXPECT_EQ(member.Outcome(), c.outcome) << c.out << c.err;
    }
    GangMember sent("COM3", "a.hex");
    sent.End(1, false, true);
    EXPECT_EQ(sent.Outcome(), GangOutcome::Interrupted) << "the gang passed on an interrupt";
    // A Windows run ended by Ctrl-C under Wine exits with status 0.
    GangMember early("COM3", "a.hex");
    early.End(0, false, false);
    early.GangInterrupted();
    EXPECT_EQ(early.Outcome(), GangOutcome::Interrupted);
    EXPECT_STREQ(GangOutcomeName(GangOutcome::FlashNotAcknowledged), "flash-not-acknowledged");
}

TEST(GangMemberOutput, TextLeftWithoutLineEndIsShownAtTheEnd) {
    GangMember member("COM3", "a.hex");
    Feed(member, {"echo\nhalf a line"});
    Feed(member, {"Error occurred: COMPort: read failed."}, true);
    std::string shown;
    for (const GangItem& item : member.End(1, false, false)) {
        shown += item.text + "|";
    }
    EXPECT_EQ(shown, "half a line|Error occurred: COMPort: read failed.|");
    EXPECT_EQ(member.Outcome(), GangOutcome::PortError);
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
    std::vector<GangMember> members = {{"/dev/ttyUSB0", ""}, {"/dev/ttyUSB1", ""}};
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
    std::vector<GangMember> members = {{"COM3", ""}, {"COM4", ""}};
    members[0].TakeOutput("echo\nStart uploading file...\n\r100 lines uploaded (40%)");
    Screen screen;
    GangDisplay display(members, {"COM3", "COM4"}, true, 24, screen.Writer());
    display.Refresh(1.0);
    EXPECT_EQ(screen.out, "[COM3] uploading: 100 l\n[COM4] waiting for the \n");
    screen.out.clear();
    display.Show(0, ProgressItem(100, 40), 1.05);
    display.Refresh(1.05);
    EXPECT_EQ(screen.out, "") << "not redrawn within kRedrawSeconds for progress";
    display.Show(1, {GangItem::Kind::Line, "Established communication: X"}, 1.06);
    display.Refresh(1.06);
    EXPECT_EQ(screen.out,
              "\x1b[2A\r\x1b[J[COM4] Established communication: X\n"
              "[COM3] uploading: 100 l\n[COM4] waiting for the \n");
    screen.out.clear();
    display.Close();
    EXPECT_EQ(screen.out, "\x1b[2A\r\x1b[J");
}

TEST(GangSummaryTable, ColumnsAlignAndTheTallyCountsTheCompleteOnes) {
    std::vector<GangMember> members = {{"/dev/ttyUSB0", ""}, {"COM12", ""}};
    members[0].TakeOutput(
        "echo\nEstablished communication: KELVOR 2.4\n\r1200 lines uploaded "
        "(100%)\nFile uploaded OK\n");
    members[0].End(0, false, false);
    members[1].End(1, false, false);
    EXPECT_EQ(FormatGangSummary(members, {4.25, 0.04}),
              "Gang summary:\n"
              "Port          Board       Outcome   Records  Seconds\n"
              "/dev/ttyUSB0  KELVOR 2.4  complete     1200      4.2\n"
              "COM12         -           failed          0      0.0\n"
              "1 of 2 ports complete.\n");
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
              (std::vector<std::string>{"/bin/vantoir", "--gang-member", "-B", "9600", "-P", "B",
                                        "-F", "--gang", "-D", "-W"}));
}

}  // namespace
