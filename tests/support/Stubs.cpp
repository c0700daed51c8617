// Placeholder bodies until the harness is implemented.
#include "tests/support/Harness.h"

namespace harness {
struct ChildProcess::Capture {};
std::string VantoirBinary() {
    return VANTOIR_BINARY;
}
std::unique_ptr<sim::Board> StartBoard(const sim::BoardConfig& config) {
    auto board = std::make_unique<sim::Board>(config);
    board->Start();
    return board;
}
std::string WriteTempFile(const std::string&, const std::string&) {
    return {};
}
std::string SampleHex(int) {
    return {};
}
ChildProcess::ChildProcess(const ProcessOptions&) {}
ChildProcess::~ChildProcess() = default;
void ChildProcess::WriteKeys(const std::string&) {}
void ChildProcess::CloseInput() {}
termios ChildProcess::KeyboardSettings() const {
    return {};
}
std::string ChildProcess::Stdout() const {
    return {};
}
std::string ChildProcess::Stderr() const {
    return {};
}
bool ChildProcess::WaitForStdout(const std::string&, int) const {
    return false;
}
bool ChildProcess::WaitForStderr(const std::string&, int) const {
    return false;
}
void ChildProcess::Signal(int) {}
ProcessResult ChildProcess::Wait(int) {
    return {};
}
bool ChildProcess::Exited() {
    return true;
}
ProcessResult Run(const ProcessOptions&, int) {
    return {};
}
ProcessResult RunVantoir(const std::vector<std::string>&, int) {
    return {};
}
std::string Describe(const ProcessResult&) {
    return {};
}
}  // namespace harness
