// How the program under test is started and how it names its port: the
// native build directly, or the Windows build under Wine.
//
//   VANTOIR_EXE       the .exe file to test instead of the native binary
//   VANTOIR_LAUNCHER  the command that runs it (default "wine"; words split
//                     at spaces), e.g. /usr/lib/wine/wine64
//   WINEPREFIX        the Wine prefix whose COM ports the tests make

#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "tests/support/Harness.h"

namespace harness {

namespace {

// The exit code of a Windows program ended by Ctrl-C or Ctrl-Break; its
// parent under Wine sees the low byte as the exit status.
constexpr unsigned kControlCExitCode = 0xC000013Au;

const char* Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

std::filesystem::path WineDevices() {
    const char* prefix = Environment("WINEPREFIX");
    if (prefix == nullptr) {
        throw std::runtime_error("harness: VANTOIR_EXE needs WINEPREFIX");
    }
    return std::filesystem::path(prefix) / "dosdevices";
}

// A pseudo-terminal's number is unique while it exists, so COM(100 + n) is a
// name no other board of any test program running now has (and none that a
// test names itself, such as COM12).
std::string ComNameFor(const std::string& devicePath) {
    const std::string number = std::filesystem::path(devicePath).filename().string();
    return "COM" + std::to_string(100 + std::stoi(number));
}

// Points the prefix's link for the COM port at the device. Wine looks the
// link up at every opening; it is replaced in one step.
void PointComPort(const std::string& comName, const std::string& devicePath) {
    std::string link = comName;
    for (char& c : link) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    const std::filesystem::path devices = WineDevices();
    const std::filesystem::path fresh = devices / (link + ".new");
    std::error_code ignored;
    std::filesystem::remove(fresh, ignored);
    std::filesystem::create_symlink(devicePath, fresh);
    std::filesystem::rename(fresh, devices / link);
}

}  // namespace

std::string VantoirBinary() {
    const char* exe = Environment("VANTOIR_EXE");
    return exe != nullptr ? exe : VANTOIR_BINARY;
}

std::string ProgramPathAsShown() {
    std::string path = VantoirBinary();
    if (!RunsWindowsBuild()) {
        return path;
    }
    path = std::filesystem::absolute(path).lexically_normal().string();
    for (char& c : path) {
        c = c == '/' ? '\\' : c;
    }
    return "Z:" + path;
}

bool RunsWindowsBuild() {
    return Environment("VANTOIR_EXE") != nullptr;
}

std::string PortName(const sim::Board& board) {
    if (!RunsWindowsBuild()) {
        return board.SlavePath();
    }
    const std::string comName = ComNameFor(board.SlavePath());
    PointComPort(comName, board.SlavePath());
    return comName;
}

std::string LinkedPortName(sim::Board& board) {
    const std::string number = std::filesystem::path(board.SlavePath()).filename().string();
    const std::filesystem::path link =
        std::filesystem::path(WriteTempFile("", "unused")).parent_path() / ("port" + number);
    if (!board.LinkAt(link.string())) {
        throw std::runtime_error("harness: cannot link " + link.string() + " to the board");
    }
    if (!RunsWindowsBuild()) {
        return link.string();
    }
    const std::string comName = ComNameFor(board.SlavePath());
    PointComPort(comName, link.string());
    return comName;
}

std::string NamedComPort(const sim::Board& board, const std::string& comName) {
    PointComPort(comName, board.SlavePath());
    return comName;
}

std::vector<std::string> LaunchCommand(const std::string& binary,
                                       const std::vector<std::string>& args) {
    std::vector<std::string> command;
    if (RunsWindowsBuild()) {
        const char* launcher = Environment("VANTOIR_LAUNCHER");
        std::istringstream words(launcher != nullptr ? launcher : "wine");
        for (std::string word; words >> word;) {
            command.push_back(word);
        }
    }
    command.push_back(binary);
    command.insert(command.end(), args.begin(), args.end());
    return command;
}

void ReportInterruptAsNative(ProcessResult& result) {
    if (RunsWindowsBuild() && result.termSignal == 0 &&
        result.exitStatus == static_cast<int>(kControlCExitCode & 0xFFu)) {
        result.exitStatus = -1;
        result.termSignal = SIGINT;
    }
}

std::string NativeLineEnds(const std::string& text) {
    if (!RunsWindowsBuild()) {
        return text;
    }
    std::string native;
    native.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
            native += text[i];
        }
    }
    return native;
}

}  // namespace harness
