// The command line, seen from outside: the real binary's output and exit
// status for every way a command line can end (CommandLineParseTest.cpp has
// the settings an accepted command line produces).

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "errors/Version.h"
#include "tests/support/Harness.h"

namespace {

const int kGuardMs = 20000;

const std::string kTitle = "Vantoir - Download utility to program Kandermoor KELVOR DSP board\n";
const std::string kShortBanner = kTitle +
                                 "Provided as is, without warranty of any kind.\n"
                                 "Questions and bug reports: the Vantoir maintainers.\n";

harness::ProcessResult RunWith(const std::vector<std::string>& args) {
    return harness::RunVantoir(args, kGuardMs);
}

void ExpectRejected(const std::vector<std::string>& args, const std::string& message) {
    harness::ProcessResult result = RunWith(args);
    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    EXPECT_EQ(result.out, "") << harness::Describe(result);
    EXPECT_EQ(result.err, message) << harness::Describe(result);
}

TEST(CommandLineInformation, NoArgumentsPrintsTheUsageWithDefaultsAndStatusZero) {
    harness::ProcessResult result = RunWith({});
    const std::string expected =
        kTitle + "Version " + std::string(version::kVersion) +
        ". Provided as is, without warranty of any kind.\n"
        "Questions and bug reports: the Vantoir maintainers.\n"
        "\n"
        "Usage: " +
        harness::ProgramPathAsShown() +
        " [-P <port>] [-B <baudrate>] [-F <datafile>] [-D] [-L] [-C] [-R] [-W]\n"
        "[-P] specifies which serial port to use. Default: COM1\n"
        "[-B] specifies the baudrate. Default: 115200\n"
        "[-F] specifies the datafile to be downloaded\n"
        "[-D] enables debugging info\n"
        "[-L] to perform only a download (i.e. no 'start'-command is sent)\n"
        "[-C] to enter Console mode. Causes -F and -L switches to be ignored.\n"
        "[-R] copies the input file raw (i.e., in binary mode) to the serial port.\n"
        "[-W] Sends a Write command after programming is done\n"
        "\n"
        "Example: Vantoir -P COM3 -F Intel.hex\n";
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, expected);
    EXPECT_EQ(result.err, "");
}

TEST(CommandLineInformation, VersionSwitchPrintsTheShortBannerWithStatusOneWherever) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"-v"}, {"-V"}, {"-D", "-P", "COM3", "-v"}, {"-v", "/not-a-switch"}, {"-v", "-P"}}) {
        harness::ProcessResult result = RunWith(args);
        EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
        EXPECT_EQ(result.out, kShortBanner) << harness::Describe(result);
        EXPECT_EQ(result.err, "") << harness::Describe(result);
    }
}

TEST(CommandLineRejection, UnknownArgumentsAreReportedAsTyped) {
    for (const char* argument : {"-X", "/P", "-Dx", "-", "Intel.hex", "--", "-P2", "-fpx"}) {
        ExpectRejected({argument}, std::string("Unknown commandline switch: ") + argument + "\n");
    }
}

TEST(CommandLineRejection, AnInvalidArgumentBeforeVersionIsReportedInstead) {
    ExpectRejected({"/x", "-v"}, "Unknown commandline switch: /x\n");
}

TEST(CommandLineRejection, ValueSwitchAsLastArgumentIsReportedAsTyped) {
    ExpectRejected({"-P"}, "Missing argument to switch -P\n");
    ExpectRejected({"-D", "-p"}, "Missing argument to switch -p\n");
    ExpectRejected({"-F", "x.hex", "-b"}, "Missing argument to switch -b\n");
    ExpectRejected({"-f"}, "Missing argument to switch -f\n");
}

TEST(CommandLineRejection, TwoNamesOfOneDeviceInAGangAreRefused) {
    SKIP_UNDER_WINE("device names of the Windows build are checked by its unit tests");
    const std::string device = harness::WriteTempFile("", "ttyFAKE0");
    const std::string link = device + ".link";
    ASSERT_EQ(symlink(device.c_str(), link.c_str()), 0);
    const std::string list = device + "," + link;
    ExpectRejected({"--gang", list, "-F", "x.hex"},
                   "Invalid value for switch --gang: " + list + "\nThe ports " + device + " and " +
                       link + " are the same device (" +
                       std::filesystem::canonical(device).string() + ").\n");
}

TEST(CommandLineRejection, NothingIsOpenedBeforeTheRejection) {
    // The port named first does not exist; a rejected switch after it must
    // be the only message.
    ExpectRejected({"-P", "/nonexistent/port", "-Z"}, "Unknown commandline switch: -Z\n");
}

TEST(CommandLineEcho, AcceptedCommandLineIsEchoedBeforeAnyPortActivity) {
    harness::ProcessResult result =
        RunWith({"-P", "/nonexistent/port", "-b", " 9600", "-F", "Intel.hex", "-D", "-l"});
    EXPECT_EQ(result.out,
              "Parsed command line: -P /nonexistent/port -b  9600 -F Intel.hex -D -l\n");
    EXPECT_EQ(result.err, "Error occurred: COMPort: failed to open.\n" +
                              harness::OpenFailureLine("/nonexistent/port", result.err));
    EXPECT_EQ(result.exitStatus, 1);
}

}  // namespace
