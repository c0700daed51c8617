// The command line parsed in this process: the settings an accepted command
// line produces and the echo line it prints.

#include <gtest/gtest.h>

#include <climits>
#include <deque>
#include <string>
#include <vector>

#include "app/CommandLine.h"

namespace {

// Parses in this process, for command lines that are accepted.
// The settings point into the argument texts, as into argv: like argv, the
// texts stay alive until the test program ends.
Settings Parse(std::vector<std::string> args, std::string* echo = nullptr) {
    static std::deque<std::string> argumentTexts;
    args.insert(args.begin(), "vantoir");
    std::vector<char*> argv;
    for (const std::string& arg : args) {
        argumentTexts.push_back(arg);
        argv.push_back(argumentTexts.back().data());
    }
    argv.push_back(nullptr);
    Settings settings;
    testing::internal::CaptureStdout();
    ParseCommandLine(static_cast<int>(args.size()), argv.data(), settings);
    std::string out = testing::internal::GetCapturedStdout();
    if (echo != nullptr) {
        *echo = out;
    }
    return settings;
}

TEST(CommandLineSettings, DefaultsHoldForSwitchesNotGiven) {
    Settings settings = Parse({"-D"});
    EXPECT_STREQ(settings.portName, "COM1");
    EXPECT_EQ(settings.baudRate, 115200);
    EXPECT_STREQ(settings.dataFile, "");
    EXPECT_EQ(settings.sendStart, 1);
    EXPECT_EQ(settings.debug, 1);
    EXPECT_EQ(settings.writeFlash, 0);
    EXPECT_EQ(settings.consoleHandshake, 0);
    EXPECT_EQ(settings.mode, ModeDownload);
}

TEST(CommandLineSettings, EveryCaseVariantOfASwitchIsAccepted) {
    for (const char* variant : {"-fp", "-FP", "-fP", "-Fp"}) {
        EXPECT_EQ(Parse({variant}).consoleHandshake, 1) << variant;
    }
    EXPECT_STREQ(Parse({"-p", "ttyUSB0"}).portName, "ttyUSB0");
    EXPECT_EQ(Parse({"-w", "-l"}).writeFlash, 1);
    EXPECT_EQ(Parse({"-w", "-l"}).sendStart, 0);
}

TEST(CommandLineSettings, ValueSwitchesTakeTheNextArgumentWhateverItLooksLike) {
    Settings settings = Parse({"-P", "-D", "-F", "-v", "-B", "-C"});
    EXPECT_STREQ(settings.portName, "-D");
    EXPECT_STREQ(settings.dataFile, "-v");
    EXPECT_EQ(settings.baudRate, 0);
    EXPECT_EQ(settings.debug, 0);
    EXPECT_EQ(settings.mode, ModeDownload);
}

TEST(CommandLineSettings, ValuesReferToTheArgumentTextsAndLaterValuesWin) {
    std::vector<std::string> args = {"vantoir", "-P", "first", "-P", "second"};
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    Settings settings;
    testing::internal::CaptureStdout();
    ParseCommandLine(static_cast<int>(argv.size()), argv.data(), settings);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(settings.portName, argv[4]);
}

TEST(CommandLineSettings, TheLastOfConsoleAndRawDecidesTheMode) {
    EXPECT_EQ(Parse({"-C", "-R"}).mode, ModeRaw);
    EXPECT_EQ(Parse({"-R", "-C"}).mode, ModeConsole);
    EXPECT_EQ(Parse({"-D", "-D"}).debug, 1);
}

TEST(CommandLineSettings, CheckSwitchesSetTheirFlagsInAnyCase) {
    EXPECT_EQ(Parse({"-D"}).checkImage, 0);
    EXPECT_EQ(Parse({"-D"}).checkOnly, 0);
    EXPECT_EQ(Parse({"--Check"}).checkImage, 1);
    EXPECT_EQ(Parse({"--Check"}).checkOnly, 0);
    EXPECT_EQ(Parse({"--CHECK-only", "-F", "x.hex"}).checkOnly, 1);
    // --check-only never runs a mode, so any mode goes with it.
    EXPECT_EQ(Parse({"-R", "--check", "--check-only", "-F", "x.hex"}).checkOnly, 1);
    EXPECT_EQ(Parse({"-C", "--check-only", "-F", "x.hex"}).mode, ModeConsole);
}

TEST(CommandLineSettings, EchoLineRepeatsEveryArgumentAsTyped) {
    std::string echo;
    Parse({"-P", "COM3", "-F", "Intel.hex"}, &echo);
    EXPECT_EQ(echo, "Parsed command line: -P COM3 -F Intel.hex\n");
    Parse({"-F", "name with  spaces"}, &echo);
    EXPECT_EQ(echo, "Parsed command line: -F name with  spaces\n");
}

TEST(BaudRateConversion, ReadsLikeAtoiAndSaturatesAtTheIntegerLimits) {
    struct Case {
        const char* text;
        int32_t value;
    };
    const Case cases[] = {
        {"115200", 115200},
        {"fast", 0},
        {"", 0},
        {" \t\n\v\f\r9600", 9600},
        {"+57600", 57600},
        {"-300", -300},
        {"9600baud", 9600},
        {"12 34", 12},
        {"+-5", 0},
        {"- 5", 0},
        {"0x10", 0},
        {"00000000000000000000019200", 19200},
        {"2147483647", INT32_MAX},
        {"2147483648", INT32_MAX},
        {"99999999999999999999999999", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"-2147483649", INT32_MIN},
        {"-99999999999999999999999999", INT32_MIN},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ConvertDecimal(c.text), c.value) << '"' << c.text << '"';
    }
    EXPECT_EQ(Parse({"-B", "4294957696"}).baudRate, INT32_MAX);
}

TEST(BaudRateConversion, NegativeRatesReachThePortAsTheirBitPattern) {
    EXPECT_EQ(ToProtocolOptions(Parse({"-B", "-1"})).baudRate, 0xFFFFFFFFu);
    EXPECT_EQ(ToProtocolOptions(Parse({"-B", "9600"})).baudRate, 9600u);
}

}  // namespace
