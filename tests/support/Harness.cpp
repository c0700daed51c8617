#include "tests/support/Harness.h"

#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "sim/HexRecord.h"

namespace harness {

namespace {

[[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error("harness: " + what + ": " + std::strerror(errno));
}

// The temporary directory of this test program, removed when it ends. A
// child forked from the program (a death test) that ends through exit()
// runs this destructor too: only the process that made the directory
// removes it, so the tests after a death test still have their files.
class TempRoot {
  public:
    TempRoot() : owner(getpid()) {
        std::string pattern = (std::filesystem::temp_directory_path() / "vantoir-test-XXXXXX");
        if (mkdtemp(pattern.data()) == nullptr) {
            Fail("mkdtemp");
        }
        path = pattern;
    }
    ~TempRoot() {
        if (getpid() != owner) {
            return;
        }
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::filesystem::path NewDirectory() {
        std::filesystem::path dir = path / std::to_string(++count);
        std::filesystem::create_directory(dir);
        return dir;
    }

  private:
    pid_t owner;
    std::filesystem::path path;
    std::atomic<int> count{0};
};

}  // namespace

std::unique_ptr<sim::Board> StartBoard(const sim::BoardConfig& config) {
    auto board = std::make_unique<sim::Board>(config);
    board->Start();
    return board;
}

std::string WriteTempFile(const std::string& content, const std::string& name) {
    static TempRoot root;
    std::filesystem::path file = root.NewDirectory() / name;
    std::ofstream stream(file, std::ios::binary);
    stream << content;
    if (!stream.flush()) {
        Fail("writing " + file.string());
    }
    return file.string();
}

std::string SampleHex(int recordCount) {
    std::string text = sim::MakeHexFile(recordCount, 16, 1);
    std::string lf;
    lf.reserve(text.size());
    for (char c : text) {
        if (c != '\r') {
            lf += c;
        }
    }
    return lf;
}

std::string Describe(const ProcessResult& result) {
    std::string text = "exit status " + std::to_string(result.exitStatus);
    if (result.termSignal != 0) {
        text += ", signal " + std::to_string(result.termSignal);
    }
    if (result.timedOut) {
        text += ", killed after the time-out";
    }
    text += "\n--- stdout ---\n" + result.out + "\n--- stderr ---\n" + result.err + "\n";
    return text;
}

ProcessResult Run(const ProcessOptions& options, int timeoutMs) {
    ChildProcess child(options);
    return child.Wait(timeoutMs);
}

ProcessResult RunVantoir(const std::vector<std::string>& args, int timeoutMs) {
    ProcessOptions options;
    options.args = args;
    return Run(options, timeoutMs);
}

std::string FencedBlock(const std::string& guidePath, const std::string& opening) {
    std::ifstream in(guidePath, std::ios::binary);
    const std::string guide((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t from = guide.find(opening);
    if (from == std::string::npos) {
        return std::string();
    }
    const size_t body = guide.find('\n', from) + 1;
    return guide.substr(body, guide.find("```\n", body) - body);
}

std::string FolderOf(const std::string& path) {
    return path.substr(0, path.rfind('/'));
}

ProcessResult RunIntoAClosedPipe(const std::vector<std::string>& args, bool sigpipeIgnored,
                                 int timeoutMs, bool afterFirstLine) {
    ProcessOptions options;
    options.binary = "/bin/bash";
    options.args = {"-c",
                    std::string(sigpipeIgnored ? "trap '' PIPE; " : "") + "\"$0\" \"$@\" | head " +
                        (afterFirstLine ? "-n 1 >/dev/null" : "-c 0") + "; exit ${PIPESTATUS[0]}",
                    VantoirBinary()};
    options.args.insert(options.args.end(), args.begin(), args.end());
    return Run(options, timeoutMs);
}

std::string OpenFailureLine(const std::string& device, const std::string& err) {
    if (!RunsWindowsBuild()) {
        return device + ": No such file or directory\n";
    }
    const size_t first = err.find('\n');
    const std::string rest = first == std::string::npos ? std::string() : err.substr(first + 1);
    const size_t end = rest.find('\n');
    const std::string line = end == std::string::npos ? rest : rest.substr(0, end + 1);
    return line.compare(0, device.size() + 2, device + ": ") == 0 && line.size() > device.size() + 3
               ? line
               : device + ": (the system's words)\n";
}

}  // namespace harness
