// vantoir --yield over record files the tests write, whose figures they
// know: units retried, aborted runs, runs that never touched a board,
// flagged ports, the filters, a record in two sources, lines that are no
// records, and what is shown on the terminal and written as CSV.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "app/yield/YieldTable.h"
#include "tests/app/yield/YieldTestSupport.h"
#include "tests/support/Harness.h"

namespace {

using yield_test::kImageA;
using yield_test::kImageB;
using yield_test::LineStarting;
using yield_test::RecordFacts;
using yield_test::RecordFile;
using yield_test::RecordLine;
using yield_test::Yield;

const char* const kCsvHeader =
    "group,station,key,runs,units,passed,failed,aborted,no_board,first_pass_yield,"
    "last_pass_yield,p50_seconds,p90_seconds,longest_failure_streak";

std::string At(int hour, int minute) {
    char text[32];
    std::snprintf(text, sizeof text, "2026-12-09T%02d:%02d:00.000Z", hour, minute);
    return text;
}

RecordFacts Made(const std::string& station, const std::string& port, const std::string& label,
                 const std::string& outcome, const std::string& started, double seconds) {
    RecordFacts run;
    run.station = station;
    run.port = port;
    run.label = label;
    run.outcome = outcome;
    run.started = started;
    run.seconds = seconds;
    return run;
}

// The words of a line of the terminal's table.
std::vector<std::string> Words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;) {
        words.push_back(word);
    }
    return words;
}

// The line of the port's row in the terminal's table of ports.
std::string PortLine(const std::string& out, const std::string& station, const std::string& port) {
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        const std::vector<std::string> words = Words(line);
        if (words.size() > 2 && words[0] == station && words[1] == port) {
            return line;
        }
    }
    return std::string();
}

}  // namespace

TEST(Yield, UnitsRetriedHaveFirstAndLastPassYieldsThatDiffer) {
    const std::string usb = "usb:0403:6001";
    // Out of time order in the file: the runs count by started.
    const std::string file = RecordFile({
        Made("A", "/dev/ttyUSB0", "U2", "complete", At(8, 5), 42),
        Made("A", "/dev/ttyUSB0", "U1", "count-mismatch", At(8, 0), 40),
        Made("A", "/dev/ttyUSB1", "U1", "complete", At(8, 10), 41),
        Made("A", "/dev/ttyUSB1", "U3", "timeout", At(8, 15), 60),
        Made("A", "/dev/ttyUSB0", "U3", "timeout", At(8, 20), 61),
        Made("B", usb, "U4", "flash-not-acknowledged", At(8, 25), 30),
        Made("B", usb, "U4", "complete", At(8, 30), 31),
        Made("B", usb, "", "complete", At(8, 35), 32),
        Made("B", usb, "", "count-mismatch", At(8, 40), 33.0004),
    });
    const yield_test::Summary summary = Yield({file});
    ASSERT_EQ(summary.result.exitStatus, 0) << harness::Describe(summary.result);
    EXPECT_EQ(summary.result.err, "");
    ASSERT_FALSE(summary.csv.empty());
    EXPECT_EQ(summary.csvText.substr(0, summary.csvText.find("\r\n")), kCsvHeader);
    // Six units (U1 to U4 and two runs without a label): first runs passed
    // U2 and one without a label; last runs passed U1, U2, U4 and the same.
    EXPECT_EQ(summary.Row("all"), "all,,,9,6,4,5,0,0,33.3,66.7,40.000,61.000,");
    EXPECT_EQ(summary.Row("station", "A"), "station,A,,5,3,2,3,0,0,33.3,66.7,42.000,61.000,");
    EXPECT_EQ(summary.Row("station", "B"), "station,B,,4,3,2,2,0,0,33.3,66.7,31.000,33.000,");
    // U1's first run at the second port is its retry, which passed.
    EXPECT_EQ(summary.Row("port", "A", "/dev/ttyUSB0"),
              "port,A,/dev/ttyUSB0,3,3,1,2,0,0,33.3,33.3,42.000,61.000,1");
    EXPECT_EQ(summary.Row("port", "A", "/dev/ttyUSB1"),
              "port,A,/dev/ttyUSB1,2,2,1,1,0,0,50.0,50.0,41.000,60.000,1");
    EXPECT_EQ(summary.Row("port", "B", usb),
              "port,B,usb:0403:6001,4,3,2,2,0,0,33.3,66.7,31.000,33.000,1");
    EXPECT_EQ(summary.Row("image", "", kImageA),
              "image,," + kImageA + ",9,6,4,5,0,0,33.3,66.7,40.000,61.000,");
    EXPECT_EQ(summary.Row("day", "", "2026-12-09"),
              "day,,2026-12-09,9,6,4,5,0,0,33.3,66.7,40.000,61.000,");
    const std::vector<std::string> order = {"all",     "station", "station", "port",
                                            "port",    "port",    "image",   "day",
                                            "outcome", "outcome", "outcome", "outcome"};
    ASSERT_EQ(summary.csv.size(), order.size() + 1);
    for (size_t i = 0; i < order.size(); ++i) {
        EXPECT_EQ(summary.csv[i + 1][0], order[i]) << i;
        EXPECT_EQ(summary.csv[i + 1].size(), 14u) << i;
    }
    EXPECT_EQ(summary.csv[9], (std::vector<std::string>{"outcome", "", "complete", "4", "", "", "",
                                                        "", "", "", "", "", "", ""}));
    EXPECT_EQ(summary.csv[10][2], "count-mismatch");
    EXPECT_EQ(summary.csv[11][2], "timeout");
    EXPECT_EQ(summary.csv[12][2], "flash-not-acknowledged");

    const std::string& out = summary.result.out;
    EXPECT_EQ(Words(LineStarting(out, "all ")),
              (std::vector<std::string>{"all", "9", "6", "4", "5", "0", "0", "33.3", "66.7",
                                        "40.000", "61.000"}));
    EXPECT_EQ(Words(LineStarting(out, "complete ")),
              (std::vector<std::string>{"complete", "4", "44.4"}));
    EXPECT_EQ(Words(LineStarting(out, "flash-not-acknowledged ")),
              (std::vector<std::string>{"flash-not-acknowledged", "1", "11.1"}));
    EXPECT_NE(out.find("Set: 9 records of downloads, started 2026-12-09 08:00:00 to "
                       "2026-12-09 08:40:00 UTC\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("flagged"), std::string::npos) << out;
}

TEST(Yield, AbortedRunsAndRunsThatNeverTouchedABoardStayOutOfTheYields) {
    std::vector<RecordFacts> runs = {
        Made("A", "P", "U1", "interrupted", At(9, 0), 3),
        Made("A", "P", "", "timeout", At(9, 1), 60),    // an empty socket
        Made("A", "P", "U2", "timeout", At(9, 2), 50),  // a unit that never answered
        Made("A", "P", "U2", "complete", At(9, 3), 45),
        Made("A", "P", "", "complete", At(9, 10), 44),
    };
    runs[1].board = false;
    runs[2].board = false;
    for (const char* untouched :
         {"image-refused", "image-ok", "file-error", "no-label", "image-changed"}) {
        RecordFacts run = Made("C", "Q", "U9", untouched, At(10, 0), 0.1);
        run.board = false;
        run.sha256 = kImageB;
        runs.push_back(run);
    }
    RecordFacts console = Made("A", "P", "", "ended", At(9, 30), 100);
    console.mode = "console";
    runs.push_back(console);
    const yield_test::Summary summary = Yield({RecordFile(runs)});
    ASSERT_EQ(summary.result.exitStatus, 0) << harness::Describe(summary.result);
    EXPECT_EQ(summary.Row("all"), "all,,,3,2,2,1,1,1,50.0,100.0,45.000,50.000,");
    EXPECT_EQ(summary.Row("station", "A"), "station,A,,3,2,2,1,1,1,50.0,100.0,45.000,50.000,");
    // Neither the station nor the image of records that never touched a
    // board is a group.
    EXPECT_EQ(summary.Row("station", "C"), "no row station,C,");
    EXPECT_EQ(summary.Row("image", "", kImageB), "no row image,," + kImageB);
    std::vector<std::string> outcomes;
    for (const auto& row : summary.csv) {
        if (row[0] == "outcome") {
            outcomes.push_back(row[2] + " " + row[3]);
        }
    }
    EXPECT_EQ(outcomes, (std::vector<std::string>{"complete 2", "file-error 1", "image-changed 1",
                                                  "image-ok 1", "image-refused 1", "interrupted 1",
                                                  "no-label 1", "timeout 1"}));
    const std::string& out = summary.result.out;
    EXPECT_EQ(Words(LineStarting(out, "complete ")),
              (std::vector<std::string>{"complete", "2", "50.0"}));
    EXPECT_EQ(Words(LineStarting(out, "interrupted ")),
              (std::vector<std::string>{"interrupted", "1", "25.0"}));
    EXPECT_EQ(Words(LineStarting(out, "image-ok ")),
              (std::vector<std::string>{"image-ok", "1", "-"}));
    EXPECT_NE(out.find("Set: 10 records of downloads"), std::string::npos) << out;
}

TEST(Yield, APortIsFlaggedForAStreakOfFailuresOrARateFarBelowItsNeighbours) {
    std::vector<RecordFacts> runs;
    int minute = 0;
    auto add = [&](const std::string& station, const std::string& port,
                   const std::string& pattern) {
        for (char c : pattern) {
            runs.push_back(Made(station, port, "", c == 'p' ? "complete" : "count-mismatch",
                                At(10 + minute / 60, minute % 60), 40));
            ++minute;
        }
    };
    add("X", "X1", "fffp");  // 3 in a row
    add("X", "X2", "pp");
    add("Y", "Y1", "pfpfpfpfpf");  // 50 % against 100 %
    add("Y", "Y2", "pppppppppp");
    add("Z", "Z1", "pfpppfpppp");  // 80 % against 100 %: 20 points, no fewer
    add("Z", "Z2", "pppppppppp");
    add("W", "W1", "pfpfpfpfp");  // 9 runs only
    add("W", "W2", "pppppppppp");
    add("W", "W3", "ppppppppfp");  // 90 % against 78.9 %
    const yield_test::Summary summary = Yield({RecordFile(runs)});
    ASSERT_EQ(summary.result.exitStatus, 0) << harness::Describe(summary.result);
    const std::string& out = summary.result.out;
    EXPECT_EQ(Words(PortLine(out, "X", "X1")),
              (std::vector<std::string>{"X", "X1", "4", "3", "3", "flagged:", "3", "failures", "in",
                                        "a", "row"}))
        << out;
    EXPECT_NE(PortLine(out, "Y", "Y1").find("  flagged: 50.0 % against 100.0 %"), std::string::npos)
        << out;
    EXPECT_NE(PortLine(out, "Z", "Z1").find("  flagged: 80.0 % against 100.0 %"), std::string::npos)
        << out;
    // No other line holds the word.
    size_t flagged = 0;
    for (size_t at = out.find("flagged"); at != std::string::npos;
         at = out.find("flagged", at + 1)) {
        ++flagged;
    }
    EXPECT_EQ(flagged, 3u) << out;
    EXPECT_EQ(summary.Row("port", "X", "X1"), "port,X,X1,4,4,1,3,0,0,25.0,25.0,40.000,40.000,3");
    EXPECT_EQ(summary.Row("port", "Y", "Y1"), "port,Y,Y1,10,10,5,5,0,0,50.0,50.0,40.000,40.000,1");
}

TEST(Yield, FiltersKeepTheRecordsOfTheirTimeAndStations) {
    const std::string file = RecordFile({
        Made("A", "P", "", "complete", "2026-12-08T23:59:59.999Z", 40),
        Made("A", "P", "", "complete", "2026-12-09T00:00:00.000Z", 40),
        Made("B", "P", "", "complete", "2026-12-09T12:00:00.000Z", 40),
        Made("C", "P", "", "complete", "2026-12-09T23:59:59.999Z", 40),
        Made("A", "P", "", "complete", "2026-12-10T00:00:00.000Z", 40),
    });
    const auto runsOf = [&](const std::vector<std::string>& more) {
        const yield_test::Summary summary = Yield({file}, more);
        EXPECT_EQ(summary.result.exitStatus, 0) << harness::Describe(summary.result);
        return summary.csv.size() > 1 ? summary.csv[1][3] : std::string("none");
    };
    EXPECT_EQ(runsOf({}), "5");
    EXPECT_EQ(runsOf({"--since", "2026-12-09", "--until", "2026-12-10"}), "3");
    EXPECT_EQ(runsOf({"--since", "2026-12-09", "--until", "2026-12-10", "--station", "A,C"}), "2");
    EXPECT_EQ(runsOf({"--since", "2026-12-09T12:00Z", "--until", "2026-12-10T00:00:00Z"}), "2");
    EXPECT_EQ(runsOf({"--until", "2026-12-09T12:00:00Z", "--station", "B"}), "0");

    // The filters may come first, and are said with the set.
    const harness::ProcessResult first = harness::RunVantoir(
        {"--station", "B", "--since", "2026-12-09T06:00Z", "--yield", file}, yield_test::kGuardMs);
    EXPECT_EQ(first.exitStatus, 0) << harness::Describe(first);
    EXPECT_EQ(first.out.substr(0, first.out.find('\n') + 1),
              "Parsed command line: --station B --since 2026-12-09T06:00Z --yield " + file + "\n");
    EXPECT_NE(first.out.find("Filters: --since 2026-12-09T06:00Z --station B\n"), std::string::npos)
        << first.out;
    EXPECT_EQ(Words(LineStarting(first.out, "all ")).at(1), "1");

    for (const char* bad : {"2026-02-30", "2026-12-09T24:00Z", "2026-12-09 12:00", "yesterday"}) {
        const harness::ProcessResult refused =
            harness::RunVantoir({"--yield", file, "--since", bad}, yield_test::kGuardMs);
        EXPECT_EQ(refused.exitStatus, 1) << bad;
        EXPECT_EQ(refused.out, "") << bad;
        EXPECT_EQ(refused.err, std::string("Invalid value for switch --since: ") + bad + "\n");
    }
    const harness::ProcessResult orphan =
        harness::RunVantoir({"--csv", "x.csv", "-P", "COM3"}, yield_test::kGuardMs);
    EXPECT_EQ(orphan.exitStatus, 1);
    EXPECT_EQ(orphan.err, "Switch --csv needs --yield <source>...\n");
}

TEST(Yield, ARecordInTwoSourcesCountsOnce) {
    RecordFacts named = Made("A", "P", "", "complete", At(8, 0), 40);
    named.recordId = "0b7d6e9c-1d2b-4c9e-8a77-0e3b9d41c2f6";
    RecordFacts unnamed = Made("A", "P", "", "count-mismatch", At(8, 1), 41);
    unnamed.recordId = "-";  // named by its bytes
    const std::string unnamedLine = RecordLine(unnamed);
    RecordFacts upper = named;
    upper.recordId = "0B7D6E9C-1D2B-4C9E-8A77-0E3B9D41C2F6";
    const std::string one = harness::WriteTempFile(
        RecordLine(named) + unnamedLine + RecordLine(Made("A", "P", "", "complete", At(8, 2), 42)),
        "one.jsonl");
    const std::string two = harness::WriteTempFile(
        RecordLine(upper) + unnamedLine + RecordLine(Made("B", "P", "", "complete", At(8, 3), 43)),
        "two.jsonl");
    const yield_test::Summary summary = Yield({one, two});
    ASSERT_EQ(summary.result.exitStatus, 0) << harness::Describe(summary.result);
    EXPECT_EQ(summary.Row("all"), "all,,,4,4,3,1,0,0,75.0,75.0,41.000,43.000,");
    EXPECT_NE(summary.result.out.find("Sources: " + one + ", " + two + "\n"), std::string::npos);
    EXPECT_NE(summary.result.out.find(" UTC (2 found twice, counted once)\n"), std::string::npos)
        << summary.result.out;
    // The same file twice is the same set.
    EXPECT_EQ(Yield({one, one}).Row("all"), Yield({one}).Row("all"));
}

TEST(Yield, LinesThatAreNoRecordsAndATornLineAreSkippedAndSaid) {
    RecordFacts late = Made("A", "P", "", "complete", At(8, 1), 41);
    std::string noSeconds = RecordLine(Made("A", "P", "", "complete", At(8, 2), 42));
    noSeconds.replace(noSeconds.find("\"seconds\""), 9, "\"secs\"");
    std::string badTime = RecordLine(Made("A", "P", "", "complete", "yesterday", 42));
    std::string noMode = RecordLine(Made("A", "P", "", "complete", At(8, 2), 42));
    noMode.replace(noMode.find("\"mode\""), 6, "\"kind\"");
    const std::string file = harness::WriteTempFile(
        RecordLine(Made("A", "P", "", "complete", At(8, 0), 40)) + "garbage\n[1,2]\n" + noSeconds +
            badTime + noMode + RecordLine(late) + "{\"version\":\"1.3\",\"started\":\"2026-",
        "mixed.jsonl");
    const yield_test::Summary summary = Yield({file});
    ASSERT_EQ(summary.result.exitStatus, 0) << harness::Describe(summary.result);
    EXPECT_EQ(summary.result.err, file + ":2: not a record (not JSON); skipped\n" + file +
                                      ":3: not a record (not a JSON object); skipped\n" + file +
                                      ":4: not a record (no seconds); skipped\n" + file +
                                      ":5: not a record (no started time); skipped\n" + file +
                                      ":6: not a record (no mode); skipped\n" + file +
                                      ":8: the last line is torn (it has no line end); skipped\n");
    EXPECT_EQ(summary.Row("all"), "all,,,2,2,2,0,0,0,100.0,100.0,40.000,41.000,");

    // At most 20 are said, then how many more.
    std::string garbage;
    for (int i = 0; i < 25; ++i) {
        garbage += "x\n";
    }
    const yield_test::Summary many = Yield({harness::WriteTempFile(garbage, "garbage.jsonl")});
    EXPECT_EQ(many.result.exitStatus, 0) << harness::Describe(many.result);
    std::istringstream lines(many.result.err);
    std::vector<std::string> said;
    for (std::string line; std::getline(lines, line);) {
        said.push_back(line);
    }
    ASSERT_EQ(said.size(), 21u) << many.result.err;
    EXPECT_NE(said[19].find(":20: not a record (not JSON); skipped"), std::string::npos);
    EXPECT_EQ(said[20], "... and 5 more lines skipped");
}

TEST(Yield, ASourceThatCannotBeReadEndsTheCommandAndIsNamed) {
    const std::string good = RecordFile({Made("A", "P", "", "complete", At(8, 0), 40)});
    const std::string missing = good + ".missing";
    const harness::ProcessResult result =
        harness::RunVantoir({"--yield", good, missing}, yield_test::kGuardMs);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.out, "Parsed command line: --yield " + good + " " + missing + "\n");
    EXPECT_EQ(result.err, "Can't read records from " + missing + ": No such file or directory\n");
}

TEST(Yield, AnEmptySetIsSaidAndNoError) {
    RecordFacts console = Made("A", "P", "", "ended", At(9, 30), 100);
    console.mode = "console";
    const yield_test::Summary summary = Yield({RecordFile({console})});
    EXPECT_EQ(summary.result.exitStatus, 0) << harness::Describe(summary.result);
    EXPECT_NE(summary.result.out.find("The set holds no record of a download.\n"),
              std::string::npos)
        << summary.result.out;
    EXPECT_EQ(summary.result.out.find("Whole set"), std::string::npos);
    EXPECT_EQ(summary.csvText, std::string(kCsvHeader) + "\r\nall,,,0,0,0,0,0,0,,,,,\r\n");
}

TEST(Yield, LongNamesAreCutOnTheTerminalOnlyAndQuotedInTheCsvAsRfc4180Says) {
    const std::string station = "Line 3, \"bench\" 2";
    const std::string port = "usb:0403:6001:A50285BI-with-a-very-long-name-that-no-column-holds";
    std::vector<RecordFacts> runs;
    for (int i = 0; i < 4; ++i) {
        runs.push_back(Made(station, port, "", i == 3 ? "complete" : "timeout", At(8, i), 40));
    }
    const yield_test::Summary summary = Yield({RecordFile(runs)});
    ASSERT_EQ(summary.result.exitStatus, 0) << harness::Describe(summary.result);
    EXPECT_NE(summary.csvText.find("\r\nport,\"Line 3, \"\"bench\"\" 2\"," + port + ",4,"),
              std::string::npos)
        << summary.csvText;
    EXPECT_EQ(summary.Row("port", station, port),
              "port," + station + "," + port + ",4,4,1,3,0,0,25.0,25.0,40.000,40.000,3");
    std::istringstream lines(summary.result.out);
    bool cut = false;
    bool first = true;
    for (std::string line; std::getline(lines, line); first = false) {
        if (!first) {  // the echo line is the command line as typed
            EXPECT_LE(DisplayWidth(line), 100u) << line;
        }
        cut = cut || (line.find("usb:0403:") != std::string::npos &&
                      line.find("\xE2\x80\xA6") != std::string::npos &&
                      line.find("flagged: 3 failures in a row") != std::string::npos);
    }
    EXPECT_TRUE(cut) << summary.result.out;
}
