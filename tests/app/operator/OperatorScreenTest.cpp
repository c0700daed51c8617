// --operator-screen in a real terminal: the program runs in a tmux window of
// a given size, and the test reads the window back (capture-pane): PASS or
// FAIL in large letters (decoded dot by dot), the board's facts, the screen
// kept until the next board's session begins, colour or NO_COLOR, a gang's
// tiles, and the terminal's settings as they were after Ctrl-C. Through a
// pipe the switch changes nothing.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/app/operator/OperatorTestSupport.h"

namespace {

using namespace operator_test;
using download_test::kPrompt;

// How often the window is looked at while a test waits for it to show
// something; each wait has its own deadline.
constexpr int kLookMs = 50;

// The letters as the screen draws them, dot by dot.
const std::map<char, std::vector<std::string>> kLetters = {
    {'P', {"####.", "#...#", "#...#", "####.", "#....", "#....", "#...."}},
    {'A', {".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
    {'S', {".####", "#....", "#....", ".###.", "....#", "....#", "####."}},
    {'F', {"#####", "#....", "#....", "####.", "#....", "#....", "#...."}},
    {'I', {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "#####"}},
    {'L', {"#....", "#....", "#....", "#....", "#....", "#....", "#####"}},
};

std::vector<std::string> WordDots(const std::string& word) {
    std::vector<std::string> rows(7);
    for (size_t i = 0; i < word.size(); ++i) {
        for (size_t row = 0; row < 7; ++row) {
            rows[row] += (i > 0 ? "." : "") + kLetters.at(word[i])[row];
        }
    }
    return rows;
}

std::vector<std::string> Lines(const std::string& screen) {
    std::vector<std::string> lines;
    std::istringstream in(screen);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// A word in large letters on the screen: each run of rows holding '#' is
// one word, read back dot by dot (its width and height give the size of a
// dot). firstRow: where it starts.
struct LargeWord {
    std::vector<std::string> dots;
    size_t firstRow = 0;
    size_t width = 0;  // in cells
};

std::vector<LargeWord> LargeWords(const std::vector<std::string>& lines) {
    std::vector<LargeWord> words;
    for (size_t row = 0; row < lines.size();) {
        if (lines[row].find('#') == std::string::npos) {
            ++row;
            continue;
        }
        size_t end = row;
        size_t left = std::string::npos;
        size_t right = 0;
        for (; end < lines.size() && lines[end].find('#') != std::string::npos; ++end) {
            left = std::min(left, lines[end].find('#'));
            right = std::max(right, lines[end].rfind('#'));
        }
        LargeWord word;
        word.firstRow = row;
        word.width = right - left + 1;
        const size_t dotWidth = std::max<size_t>(1, word.width / 23);
        const size_t dotHeight = std::max<size_t>(1, (end - row) / 7);
        for (size_t dotRow = 0; dotRow < 7; ++dotRow) {
            std::string dots;
            for (size_t dot = 0; dot < 23; ++dot) {
                const std::string& line = lines[std::min(end - 1, row + dotRow * dotHeight)];
                const size_t at = left + dot * dotWidth;
                dots += at < line.size() && line[at] == '#' ? '#' : '.';
            }
            word.dots.push_back(dots);
        }
        words.push_back(word);
        row = end;
    }
    return words;
}

std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

std::string CommandLine(const std::vector<std::string>& words) {
    std::string line;
    for (const std::string& word : words) {
        line += (line.empty() ? "" : " ") + Quoted(word);
    }
    return line;
}

// A terminal window of its own: a tmux server on a socket of the test's,
// running command in a window of columns by rows.
class TerminalWindow {
  public:
    TerminalWindow(int columns, int rows, const std::string& command)
        : socket(harness::WriteTempFile("", "tmux") + ".sock") {
        const harness::ProcessResult started =
            Tmux({"new-session", "-d", "-s", "run", "-x", std::to_string(columns), "-y",
                  std::to_string(rows), command});
        EXPECT_EQ(started.exitStatus, 0)
            << "tmux is needed for these tests (scripts/install-deps native installs it): "
            << started.err;
    }
    ~TerminalWindow() { Tmux({"kill-server"}); }

    std::string Screen(bool withColours = false) const {
        std::vector<std::string> args = {"capture-pane", "-p", "-t", "run"};
        if (withColours) {
            args.push_back("-e");
        }
        return Tmux(args).out;
    }

    // Waits until the screen shows what shows says; false at the deadline.
    bool WaitFor(const std::function<bool(const std::string&)>& shows, int timeoutMs) const {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!shows(Screen())) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(kLookMs));
        }
        return true;
    }

    // Types text (each character as it is), then Enter when enter.
    void Type(const std::string& text, bool enter) const {
        Tmux({"send-keys", "-t", "run", "-l", text});
        if (enter) {
            Tmux({"send-keys", "-t", "run", "Enter"});
        }
    }
    void Key(const std::string& key) const { Tmux({"send-keys", "-t", "run", key}); }

  private:
    harness::ProcessResult Tmux(std::vector<std::string> args) const {
        harness::ProcessOptions options;
        options.binary = "/usr/bin/env";
        options.args = {"TERM=xterm", "tmux", "-S", socket, "-f", "/dev/null"};
        options.args.insert(options.args.end(), args.begin(), args.end());
        return harness::Run(options, kGuardMs);
    }

    std::string socket;
};

bool Contains(const std::string& screen, const std::string& text) {
    return screen.find(text) != std::string::npos;
}

// The last line of the screen that holds anything.
std::string LastLine(const std::string& screen) {
    const std::vector<std::string> lines = Lines(screen);
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
        if (!line->empty()) {
            return *line;
        }
    }
    return std::string();
}

class OperatorScreen : public ::testing::Test {
  protected:
    void SetUp() override { SKIP_UNDER_WINE("the terminal is tmux's, for the native program"); }

    // The shell command of the window: the terminal's settings before and
    // after the run, its exit status, then the window stays as it is.
    std::string WindowCommand(const std::vector<std::string>& args, bool colour) {
        std::remove(status.c_str());
        std::remove(after.c_str());
        std::vector<std::string> run = {"env", colour ? "-u" : "NO_COLOR=1"};
        if (colour) {
            run.push_back("NO_COLOR");
        }
        run.push_back(harness::VantoirBinary());
        run.insert(run.end(), args.begin(), args.end());
        return "stty -a > " + Quoted(before) + "; " + CommandLine(run) + "; echo $? > " +
               Quoted(status) + "; stty -a > " + Quoted(after) + "; exec cat";
    }

    std::vector<std::string> Args(sim::Board& board, std::vector<std::string> extra) {
        std::vector<std::string> args = {"-P", harness::PortName(board), "-F", dataFile,
                                         "--operator-screen"};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }

    bool Ended(const TerminalWindow& window) {
        return window.WaitFor([this](const std::string&) { return !FileText(after).empty(); },
                              kGuardMs);
    }

    std::string dataFile = harness::WriteTempFile(harness::SampleHex(5));
    std::string before = harness::WriteTempFile("", "before");
    std::string after = harness::WriteTempFile("", "after");
    std::string status = harness::WriteTempFile("", "status");
};

TEST_F(OperatorScreen, PassAndFailAreReadBackAcrossTheScreenAtBothSizes) {
    for (const auto& [columns, rows] : {std::pair<int, int>{120, 40}, {40, 20}}) {
        SCOPED_TRACE(std::to_string(columns) + "x" + std::to_string(rows));
        const bool colour = columns == 120;
        auto complete = harness::StartBoard();
        TerminalWindow passed(columns, rows,
                              WindowCommand(Args(*complete, {"--label", "SN-0001"}), colour));
        ASSERT_TRUE(Ended(passed));
        EXPECT_EQ(FileText(status), "0\n");
        std::vector<std::string> lines = Lines(passed.Screen());
        std::vector<LargeWord> words = LargeWords(lines);
        ASSERT_EQ(words.size(), 1u) << passed.Screen();
        EXPECT_EQ(words[0].dots, WordDots("PASS")) << passed.Screen();
        EXPECT_EQ(words[0].width, static_cast<size_t>((columns - 1) / 23 * 23));
        EXPECT_TRUE(Contains(passed.Screen(), "\nLabel SN-0001\n")) << passed.Screen();
        EXPECT_EQ(Contains(passed.Screen(true), "\x1b[32m"), colour);

        sim::BoardConfig miscounting;
        miscounting.countOffset = 1;
        auto failing = harness::StartBoard(miscounting);
        TerminalWindow failed(columns, rows, WindowCommand(Args(*failing, {}), colour));
        ASSERT_TRUE(Ended(failed));
        EXPECT_EQ(FileText(status), "1\n");
        lines = Lines(failed.Screen());
        words = LargeWords(lines);
        ASSERT_EQ(words.size(), 1u) << failed.Screen();
        EXPECT_EQ(words[0].dots, WordDots("FAIL")) << failed.Screen();
        const std::string said =
            "count-mismatch: Mismatch: uploaded 5 lines; DSP reported 6 lines "
            "received";
        EXPECT_TRUE(Contains(failed.Screen(), "\n" + said.substr(0, columns - 1) + "\n"))
            << failed.Screen();
        EXPECT_EQ(Contains(failed.Screen(true), "\x1b[31m"), colour);
        EXPECT_EQ(FileText(before), FileText(after));
    }
}

// Board after board with labels typed at the terminal: the result stays
// while the next label is asked for and the last board is taken away, and
// goes once the next board's session begins.
TEST_F(OperatorScreen, StaysUntilTheNextBoardsSessionBegins) {
    auto board = harness::StartBoard();
    TerminalWindow window(120, 40,
                          WindowCommand(Args(*board, {"--boards", "2", "--ask-label"}), true));
    ASSERT_TRUE(window.WaitFor(
        [](const std::string& screen) { return LastLine(screen) == "Label of board 1:"; },
        kGuardMs))
        << window.Screen();
    window.Type("SN-1", true);
    ASSERT_TRUE(window.WaitFor(
        [](const std::string& screen) { return LastLine(screen) == "Label of board 2:"; },
        kGuardMs))
        << window.Screen();
    std::string screen = window.Screen();
    ASSERT_EQ(LargeWords(Lines(screen)).size(), 1u) << screen;
    EXPECT_EQ(LargeWords(Lines(screen))[0].dots, WordDots("PASS"));
    EXPECT_TRUE(Contains(screen, "\nBoard 1   Label SN-1\nBoards so far: 1 complete, 0 failed.\n"))
        << screen;
    EXPECT_EQ(Lines(screen).size(), 40u) << "the question on the last line";

    // The label typed; the line for the board to go in the question's
    // place, the result still there.
    window.Type("SN-2", true);
    ASSERT_TRUE(window.WaitFor(
        [](const std::string& shown) {
            const std::string line = TakeAwayLine(1);
            return LastLine(shown) == line.substr(0, line.size() - 1);
        },
        kGuardMs))
        << window.Screen();
    screen = window.Screen();
    ASSERT_EQ(LargeWords(Lines(screen)).size(), 1u) << screen;
    EXPECT_EQ(LargeWords(Lines(screen))[0].firstRow, 1u) << screen;

    // The next board's session begins: the screen is the run's again.
    board->SetPowered(false);
    ASSERT_TRUE(window.WaitFor(
        [](const std::string& shown) {
            return Contains(shown, "Please cycle the power") && !Contains(shown, "#");
        },
        kGuardMs))
        << window.Screen();
    board->SetPowered(true);
    ASSERT_TRUE(Ended(window));
    EXPECT_EQ(FileText(status), "0\n");
    screen = window.Screen();
    ASSERT_EQ(LargeWords(Lines(screen)).size(), 1u) << screen;
    EXPECT_TRUE(Contains(screen, "\nBoard 2   Label SN-2\nBoards so far: 2 complete, 0 failed.\n"))
        << screen;
    EXPECT_EQ(LastLine(screen), "Boards in all: 2 complete, 0 failed.");
}

// Ctrl-C while the result is shown and the next label asked for: the run
// ends with its tally, and the terminal's settings are as they were, with
// no colour left on.
TEST_F(OperatorScreen, LeavesTheTerminalAsItWasAfterCtrlC) {
    auto board = harness::StartBoard();
    TerminalWindow window(
        40, 20,
        WindowCommand(Args(*board, {"--repeat", "--label-pattern", "SN-.*", "--ask-label"}), true));
    ASSERT_TRUE(window.WaitFor(
        [](const std::string& screen) { return LastLine(screen) == "Label of board 1:"; },
        kGuardMs));
    window.Type("SN-1", true);
    ASSERT_TRUE(window.WaitFor(
        [](const std::string& screen) { return LastLine(screen) == "Label of board 2:"; },
        kGuardMs))
        << window.Screen();
    window.Key("C-c");
    ASSERT_TRUE(Ended(window)) << window.Screen();

    EXPECT_EQ(FileText(status), "0\n");
    EXPECT_EQ(LastLine(window.Screen()), "Boards in all: 1 complete, 0 failed.");
    const std::string coloured = window.Screen(true);
    const size_t last = coloured.rfind("Boards in all");
    EXPECT_EQ(coloured.substr(last).find('\x1b'), std::string::npos) << coloured;
    EXPECT_FALSE(FileText(before).empty());
    EXPECT_EQ(FileText(before), FileText(after));
}

// A gang's ports, each a tile of its own (stacked at 120 by 40), with its
// port, its result and its label.
TEST_F(OperatorScreen, AGangShowsEveryPortsResult) {
    sim::BoardConfig miscounting;
    miscounting.countOffset = 1;
    std::vector<std::unique_ptr<sim::Board>> boards;
    boards.push_back(harness::StartBoard());
    boards.push_back(harness::StartBoard(miscounting));
    const std::string list = harness::PortName(*boards[0]) + "," + harness::PortName(*boards[1]);
    TerminalWindow window(
        120, 40,
        WindowCommand({"--gang", list, "-F", dataFile, "--operator-screen", "--ask-label"}, true));
    for (const std::string label : {"L-A", "L-B"}) {
        ASSERT_TRUE(window.WaitFor(
            [](const std::string& screen) {
                return LastLine(screen).rfind("Label of the board on ", 0) == 0;
            },
            kGuardMs));
        window.Type(label, true);
    }
    ASSERT_TRUE(Ended(window)) << window.Screen();

    EXPECT_EQ(FileText(status), "1\n");
    const std::string screen = window.Screen();
    const std::vector<LargeWord> words = LargeWords(Lines(screen));
    ASSERT_EQ(words.size(), 2u) << screen;
    EXPECT_EQ(words[0].dots, WordDots("PASS")) << screen;
    EXPECT_EQ(words[1].dots, WordDots("FAIL")) << screen;
    const std::string first = harness::PortName(*boards[0]);
    EXPECT_EQ(Lines(screen)[words[0].firstRow - 1],
              first.substr(first.rfind("/", first.rfind('/') - 1) + 1));
    EXPECT_TRUE(Contains(screen, "\nLabel L-A\n")) << screen;
    EXPECT_TRUE(Contains(screen, "\ncount-mismatch: Mismatch: uploaded 5 lines;")) << screen;
    EXPECT_TRUE(Contains(screen, "\nLabel L-B\n")) << screen;
}

// Through a pipe the screen is never drawn: the output is the same as
// without the switch.
TEST(OperatorScreenThroughAPipe, ChangesNothing) {
    const std::string dataFile = harness::WriteTempFile(harness::SampleHex(5));
    std::string outs[2];
    for (int screen = 0; screen < 2; ++screen) {
        auto board = harness::StartBoard();
        std::vector<std::string> args = {"-P", harness::PortName(*board), "-F", dataFile};
        if (screen == 1) {
            args.push_back("--operator-screen");
        }
        const harness::ProcessResult result = harness::RunVantoir(args, kGuardMs);
        EXPECT_EQ(result.exitStatus, 0) << harness::Describe(result);
        outs[screen] = result.out.substr(download_test::EchoLine(args).size());
    }
    EXPECT_EQ(outs[1], outs[0]);
    EXPECT_EQ(outs[1].find('\x1b'), std::string::npos);
}

}  // namespace
