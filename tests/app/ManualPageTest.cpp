// Each program's switches as its --help lists them are exactly those its
// manual page describes under OPTIONS (and, for kelvor-sim, USB CDC-ACM
// FUNCTION and FAULTS).

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "tests/support/Harness.h"

namespace {

using Switches = std::set<std::string>;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The word at text[at] up to a blank, a bracket or a comma.
std::string WordAt(const std::string& text, size_t at) {
    const size_t end = text.find_first_of(" ]\t,\n", at);
    return text.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

// Every "[-X" of the usage lines of vantoir --help.
Switches FromVantoirHelp(const std::string& help) {
    Switches switches;
    for (size_t at = help.find("[-"); at != std::string::npos; at = help.find("[-", at + 1)) {
        switches.insert(WordAt(help, at + 1));
    }
    return switches;
}

// Every option at the start of an indented line of kelvor-sim --help.
Switches FromSimHelp(const std::string& help) {
    Switches switches;
    for (size_t at = help.find("\n  --"); at != std::string::npos;
         at = help.find("\n  --", at + 1)) {
        switches.insert(WordAt(help, at + 3));
    }
    return switches;
}

// The switches named on the line after each .TP of the given sections of a
// manual page: every word that begins with \- there ("\-" is a dash).
Switches FromManualPage(const std::string& page, const Switches& sections) {
    Switches switches;
    std::istringstream lines(page);
    std::string line;
    bool inSection = false;
    bool afterTp = false;
    while (std::getline(lines, line)) {
        if (line.rfind(".SH ", 0) == 0) {
            inSection = sections.count(line.substr(4)) != 0;
        } else if (inSection && afterTp) {
            std::string plain;
            for (size_t i = 0; i < line.size(); ++i) {
                if (line.compare(i, 2, "\\-") == 0) {
                    plain += '-';
                    ++i;
                } else {
                    plain += line[i] == '"' ? ' ' : line[i];
                }
            }
            std::istringstream words(plain);
            std::string word;
            while (words >> word) {
                if (word[0] == '-' && word.size() > 1) {
                    switches.insert(WordAt(word, 0));
                }
            }
        }
        afterTp = line == ".TP";
    }
    return switches;
}

TEST(ManualPages, VantoirsPageDescribesEverySwitchItsHelpLists) {
    SKIP_UNDER_WINE("the manual page belongs to the POSIX installation");
    const std::string help = harness::RunVantoir({"--help"}, 20000).out;
    const Switches listed = FromVantoirHelp(help);
    ASSERT_GE(listed.size(), 20u) << help;
    EXPECT_EQ(FromManualPage(ReadFile(VANTOIR_SOURCE_DIR "/man/vantoir.1.in"), {"OPTIONS"}),
              listed);
}

TEST(ManualPages, KelvorSimsPageDescribesEveryOptionItsHelpLists) {
    SKIP_UNDER_WINE("the manual page belongs to the POSIX installation");
    harness::ProcessOptions options;
    options.binary = KELVOR_SIM_BINARY;
    options.args = {"--help"};
    const std::string help = harness::Run(options, 20000).out;
    const Switches listed = FromSimHelp(help);
    ASSERT_GE(listed.size(), 30u) << help;
    EXPECT_EQ(FromManualPage(ReadFile(VANTOIR_SOURCE_DIR "/man/kelvor-sim.1.in"),
                             {"OPTIONS", "USB CDC-ACM FUNCTION", "FAULTS"}),
              listed);
}

}  // namespace
