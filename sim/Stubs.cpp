// Placeholder bodies until the board is implemented.
#include <stdexcept>

#include "sim/Board.h"
#include "sim/HexRecord.h"
#include "sim/LoaderProtocol.h"
#include "sim/PseudoTerminal.h"

namespace sim {

struct Board::Shared {
    PseudoTerminal pty;
    BoardConfig config;
};

Board::Board(const BoardConfig& config) : shared(new Shared{PseudoTerminal(), config}) {}
Board::~Board() = default;
const std::string& Board::SlavePath() const {
    return shared->pty.SlavePath();
}
void Board::Start() {}
void Board::Run() {}
void Board::Stop() {}
void Board::RequestStop() {}
void Board::Send(const std::string&) {}
void Board::HangUp() {}
std::string Board::Received() const {
    return {};
}
std::vector<ReceivedChunk> Board::ReceivedChunks() const {
    return {};
}
Clock::time_point Board::ReceivedAt(size_t) const {
    return {};
}
int64_t Board::BytesReceived() const {
    return 0;
}
std::string Board::Sent() const {
    return {};
}
bool Board::WaitForReceived(const std::string&, int, size_t) const {
    return false;
}
bool Board::WaitForBytes(int64_t, int) const {
    return false;
}
bool Board::WaitForRecords(int, int) const {
    return false;
}
bool Board::WaitForStart(int) const {
    return false;
}
bool Board::WaitForSendIdle(int) const {
    return false;
}
bool Board::WaitForStopped(int) const {
    return false;
}
BoardSummary Board::Summary() const {
    return {};
}
void Board::Loop() {}

}  // namespace sim

namespace sim {
LoaderProtocol::LoaderProtocol(const BoardConfig& boardConfig) : config(boardConfig) {}
std::vector<Emission> LoaderProtocol::Feed(std::string_view) {
    return {};
}
int64_t LoaderProtocol::BytesBeforeHangUp() const {
    return -1;
}
std::string LoaderProtocol::FormatSummary(const BoardSummary&) {
    return {};
}
}  // namespace sim
