// The console keyboard on Windows: the console's input mode while console
// mode has it and after it ends, by Ctrl-C and Ctrl-Break included. Needs a
// console as standard input (scripts/test-windows gives it one); skipped
// otherwise.

#include <windows.h>

#include <gtest/gtest.h>

#include "serial/ConsoleInput.h"

namespace {

// A mode console mode never sets, so that its return is seen.
constexpr DWORD kFoundMode = ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT;
// How a Windows program ended by Ctrl-C or Ctrl-Break exits.
constexpr int kControlCExitCode = static_cast<int>(0xC000013Au);

// Wine (which the Windows build's tests run under on Linux) does not deliver
// a Ctrl-Break that a program generates.
bool RunsUnderWine() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// The events reach every process of the console: this one lives on.
BOOL WINAPI SurviveControlEvents(DWORD event) {
    return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
}

class ConsoleModeGivenBack : public ::testing::Test {
  protected:
    void SetUp() override {
        input = GetStdHandle(STD_INPUT_HANDLE);
        DWORD mode = 0;
        if (!GetConsoleMode(input, &mode)) {
            GTEST_SKIP() << "standard input is not a console";
        }
        ASSERT_TRUE(SetConsoleMode(input, kFoundMode));
        // For the whole run: the event may reach this process after the test
        // that sent it has ended.
        static const bool surviving = SetConsoleCtrlHandler(SurviveControlEvents, TRUE) != FALSE;
        ASSERT_TRUE(surviving);
    }

    DWORD Mode() const {
        DWORD mode = 0;
        GetConsoleMode(input, &mode);
        return mode;
    }

    // Takes the keyboard in a child process, sends the event and expects
    // the child to end as the system ends an interrupted program.
    void ExpectEndedBy(DWORD event) {
        EXPECT_EXIT(
            {
                ConsoleInput keyboard;
                GenerateConsoleCtrlEvent(event, 0);
                Sleep(10000);
            },
            ::testing::ExitedWithCode(kControlCExitCode), "");
    }

    HANDLE input = INVALID_HANDLE_VALUE;
};

TEST_F(ConsoleModeGivenBack, KeyAtATimeWhileTakenThenAsFound) {
    {
        ConsoleInput keyboard;
        EXPECT_TRUE(keyboard.IsTerminal());
        EXPECT_EQ(Mode(), static_cast<DWORD>(ENABLE_PROCESSED_INPUT));
    }
    EXPECT_EQ(Mode(), kFoundMode);
}

TEST_F(ConsoleModeGivenBack, AfterCtrlC) {
    ExpectEndedBy(CTRL_C_EVENT);
    EXPECT_EQ(Mode(), kFoundMode);
}

TEST_F(ConsoleModeGivenBack, AfterCtrlBreak) {
    if (RunsUnderWine()) {
        GTEST_SKIP() << "Wine does not deliver a Ctrl-Break that a program generates";
    }
    ExpectEndedBy(CTRL_BREAK_EVENT);
    EXPECT_EQ(Mode(), kFoundMode);
}

}  // namespace
