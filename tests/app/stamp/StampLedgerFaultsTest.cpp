// --stamp when the ledger fails under the run: a file ledger on a disk that
// fills up (harness::FullDisk), a database stopped and started again while
// boards are programmed (harness::PostgresServer). A number's closing that
// cannot be made, or a number that cannot be reserved, is said and ends the
// board with the outcome ledger-error; no torn line is left in a file
// ledger; a restarted database is reconnected to, and a --repeat run goes
// on to its next board.

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/app/report/ReportRecords.h"
#include "tests/app/stamp/StampTestSupport.h"
#include "tests/protocol/DownloadTestSupport.h"
#include "tests/support/FullDisk.h"
#include "tests/support/Harness.h"
#include "tests/support/PostgresServer.h"

namespace {

using download_test::kPrompt;
using download_test::kRunGuardMs;
using report_test::ReadRecords;
using stamp_test::RecordLines;
using OrderedJson = nlohmann::ordered_json;

const std::string kRunId = "line-7";

// The first number of the ledgers on a full disk: every number they hold
// has six digits, so the length of a line is known before its number.
constexpr uint64_t kFirstNumber = 100001;

// A ledger exactly length bytes long whose numbers kFirstNumber to last are
// all used, its last line padded out with a note.
std::string UsedLedger(size_t length, uint64_t& last) {
    std::string text;
    uint64_t value = kFirstNumber - 1;
    for (;;) {
        const std::string line =
            "{\"value\": " + std::to_string(value + 1) + ", \"state\": \"used\"}\n";
        if (text.size() + line.size() + 64 > length) {
            break;
        }
        text += line;
        ++value;
    }
    const std::string head =
        "{\"value\": " + std::to_string(++value) + ", \"state\": \"used\", \"note\": \"";
    const std::string tail = "\"}\n";
    text += head + std::string(length - text.size() - head.size() - tail.size(), 'x') + tail;
    last = value;
    return text;
}

// The length of the reservation line of value for a run of this suite on
// port (the time is always 24 characters).
size_t ReservationLength(uint64_t value, const std::string& port) {
    const OrderedJson line = {
        {"value", value},    {"state", "reserved"},     {"time", "2000-01-01T00:00:00.000Z"},
        {"port", port},      {"board_number", nullptr}, {"run_id", kRunId},
        {"station", nullptr}};
    return line.dump().size() + 1;
}

// A station whose ledger is on a full disk with room bytes left, once the
// reservation of the next number for a board on port is counted in (room
// may be negative: so many bytes of the reservation do not fit).
struct FullLedgerStation {
    FullLedgerStation(const std::string& port, long long room)
        : disk(
              "ledger.jsonl", [this](size_t length) { return UsedLedger(length, last); },
              static_cast<size_t>(static_cast<long long>(ReservationLength(kFirstNumber, port)) +
                                  room)) {}

    harness::ProcessOptions Options(const std::string& port) const {
        harness::ProcessOptions options;
        options.args = {
            "-P",        port,       "-F",   dataFile,   "--stamp", "0x1E:u32le", "--stamp-ledger",
            disk.Path(), "--report", report, "--run-id", kRunId};
        disk.Apply(options);
        return options;
    }

    std::string content = stamp_test::BlankedHex(harness::SampleHex(20), 0x1E, 0x21);
    std::string dataFile = harness::WriteTempFile(content);
    std::string report = harness::WriteTempFile("", "report.jsonl");
    uint64_t last = 0;
    harness::FullDisk disk;
};

std::string FileText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// What the system says of a write to a full disk (a file size limit stands
// in for it where no tmpfs can be mounted; Windows has words of its own).
bool SaysTheDiskIsFull(const std::string& line, const std::string& prefix) {
    if (line.rfind(prefix, 0) != 0 || line.back() != '\n' || line.find('\n') != line.size() - 1) {
        return false;
    }
    const std::string why = line.substr(prefix.size(), line.size() - 1 - prefix.size());
    return harness::RunsWindowsBuild() || why == "No space left on device" ||
           why == "File too large";
}

}  // namespace

TEST(StampLedgerFullDisk, AClosingTheFullDiskRefusesIsSaidLeavesNoTornLineAndEndsLedgerError) {
    auto board = harness::StartBoard();
    const std::string port = harness::PortName(*board);
    // The reservation fits; of the closing line only 10 bytes do.
    FullLedgerStation station(port, 10);
    const uint64_t value = station.last + 1;
    harness::ChildProcess child(station.Options(port));
    const harness::ProcessResult result = child.Wait(kRunGuardMs);

    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    EXPECT_TRUE(SaysTheDiskIsFull(result.err, "Stamp ledger " + station.disk.Path() + ": stamp " +
                                                  std::to_string(value) +
                                                  " could not be closed as used: cannot write: "))
        << result.err;
    EXPECT_NE(result.out.find("File uploaded OK\nStart command sent to DSP\n"), std::string::npos)
        << result.out;
    ASSERT_TRUE(board->WaitForStart(kRunGuardMs));

    // The ledger ends with the reservation, whole: the part of the closing
    // line that was written is gone.
    const std::string ledger = FileText(station.disk.Path());
    ASSERT_EQ(ledger.compare(0, station.disk.Content().size(), station.disk.Content()), 0);
    const std::string added = ledger.substr(station.disk.Content().size());
    ASSERT_FALSE(added.empty());
    EXPECT_EQ(added.find('\n'), added.size() - 1) << added;
    const auto reservation = nlohmann::json::parse(added);
    EXPECT_EQ(reservation["state"], "reserved");
    EXPECT_EQ(reservation["value"], value);

    // The board's own facts stay in the record; its outcome says the ledger.
    const std::vector<report_test::Json> records = ReadRecords(station.report);
    ASSERT_EQ(records.size(), 1u);
    const report_test::Json& record = records[0];
    EXPECT_EQ(record["outcome"], "ledger-error");
    EXPECT_EQ(record["exit_status"], 1);
    EXPECT_EQ(record["error"], result.err.substr(0, result.err.size() - 1));
    EXPECT_EQ(record["records_confirmed"], 20);
    EXPECT_EQ(record["start_sent"], true);
    EXPECT_EQ(record["stamp"]["value"], value);
    EXPECT_EQ(record["stamp"]["closed"], false);
    const OrderedJson ordered = OrderedJson::parse(FileText(station.report));
    EXPECT_EQ(ordered["stamp"].items().begin().key(), "value");
    EXPECT_EQ((--ordered["stamp"].end()).key(), "closed");
}

TEST(StampLedgerFullDisk, ANumberTheFullDiskCannotReserveEndsTheBoardBeforeAnyRecordLine) {
    auto board = harness::StartBoard();
    const std::string port = harness::PortName(*board);
    // 30 bytes of the reservation line do not fit.
    FullLedgerStation station(port, -30);
    harness::ChildProcess child(station.Options(port));
    const harness::ProcessResult result = child.Wait(kRunGuardMs);

    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    EXPECT_TRUE(
        SaysTheDiskIsFull(result.err, "Stamp ledger " + station.disk.Path() + ": cannot write: "))
        << result.err;
    EXPECT_EQ(result.out.find("Stamp "), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("Start uploading file..."), std::string::npos) << result.out;
    EXPECT_EQ(board->Received().find(':'), std::string::npos) << board->Received();
    // Nothing of the reservation is left behind.
    const std::string ledger = FileText(station.disk.Path());
    EXPECT_TRUE(ledger == station.disk.Content())
        << ledger.size() << " bytes, " << station.disk.Content().size() << " before the run";

    const std::vector<report_test::Json> records = ReadRecords(station.report);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["outcome"], "ledger-error");
    EXPECT_EQ(records[0]["exit_status"], 1);
    EXPECT_EQ(records[0]["error"], result.err.substr(0, result.err.size() - 1));
    EXPECT_EQ(records[0]["records_sent"], 0);
    EXPECT_TRUE(records[0]["stamp"].is_null());
}

namespace {

// A board the test plays by hand: it answers only when told, so that the
// test acts between a command's arrival and its answer.
class PlayedBoard {
  public:
    PlayedBoard() {
        sim::BoardConfig config;
        config.loaderProtocol = false;
        board = harness::StartBoard(config);
    }

    sim::Board& Board() { return *board; }

    // Waits for command to arrive after what was awaited before.
    bool Await(const std::string& command) {
        if (!board->WaitForReceived(command, kRunGuardMs, from)) {
            return false;
        }
        from = board->Received().find(command, from) + command.size();
        return true;
    }
    void Answer(const std::string& line) { board->Send(line + "\r\n"); }
    // Answers "?" and "R" as a board does, and waits for "C", unanswered.
    bool UpToTheCount() {
        if (!Await("?\r\n")) {
            return false;
        }
        Answer("+KELVOR DSP boot loader 2.4");
        if (!Await("R\r\n")) {
            return false;
        }
        Answer("+");
        return Await("C\r\n");
    }

  private:
    std::unique_ptr<sim::Board> board;
    size_t from = 0;
};

class StampPostgresRestart : public stamp_test::PostgresLedgerSuite {
  protected:
    void TearDown() override {
        // A test that failed half-way leaves the server as it needs it.
        if (server != nullptr) {
            try {
                server->Start();
            } catch (const std::exception&) {
                // Running already.
            }
        }
    }

    std::vector<std::string> Args(const std::string& port, const std::string& ledger,
                                  const std::string& boards) const {
        return {"-P",   port,       "-F",   dataFile,   "--stamp", "0x20:u16be", "--stamp-ledger",
                ledger, "--report", report, "--boards", boards};
    }

    std::string content = stamp_test::BlankedHex(harness::SampleHex(20), 0x20, 0x21);
    std::string dataFile = harness::WriteTempFile(content);
    std::string report = harness::WriteTempFile("", "report.jsonl");
};

}  // namespace

TEST_F(StampPostgresRestart, AClosingRidesOutARestartAndOneThatCannotBeMadeEndsLedgerError) {
    SKIP_UNDER_WINE("the Windows build has no database ledger");
    const std::string ledger = server->Address("closing");
    PlayedBoard played;
    harness::ProcessOptions options;
    options.args = Args(harness::PortName(played.Board()), ledger, "2");
    harness::ChildProcess child(options);

    // Board 1: the server goes away before the count is answered and comes
    // back: the closing reconnects.
    ASSERT_TRUE(played.UpToTheCount()) << child.Stdout() << played.Board().Received();
    server->Stop();
    played.Answer("+20");
    server->Start();
    ASSERT_TRUE(played.Await("S\r\n")) << child.Stdout() << played.Board().Received();
    ASSERT_TRUE(
        child.WaitForStdout("Board 1 (stamp 1): complete. Boards so far: 1 complete, 0 "
                            "failed.\n",
                            kRunGuardMs))
        << child.Stdout() << child.Stderr();

    // Board 2: the server goes away for good.
    ASSERT_TRUE(child.WaitForStdout("Take board 1 away", kRunGuardMs));
    ASSERT_TRUE(played.Await("?\r\n")) << child.Stdout() << played.Board().Received();
    ASSERT_TRUE(child.WaitForStdout(std::string("awaited once the line is quiet.\n") + kPrompt,
                                    kRunGuardMs));
    ASSERT_TRUE(played.UpToTheCount()) << child.Stdout() << played.Board().Received();
    server->Stop();
    played.Answer("+20");
    const harness::ProcessResult result = child.Wait(kRunGuardMs);
    server->Start();

    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    EXPECT_NE(result.out.find("Board 2 (stamp 2): ledger-error. Boards so far: 1 complete, 1 "
                              "failed.\nBoards in all: 1 complete, 1 failed.\n"),
              std::string::npos)
        << result.out;
    const std::string said = "Stamp ledger " + ledger + ": stamp 2 could not be closed as used: ";
    EXPECT_EQ(result.err.rfind(said, 0), 0u) << result.err;
    EXPECT_EQ(Rows("closing"), "1 used complete\n2 reserved -\n");

    const std::vector<report_test::Json> records = ReadRecords(report);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0]["outcome"], "complete");
    EXPECT_EQ(records[0]["stamp"]["closed"], true);
    EXPECT_EQ(records[1]["outcome"], "ledger-error");
    EXPECT_EQ(records[1]["exit_status"], 1);
    EXPECT_EQ(records[1]["stamp"]["closed"], false);
    EXPECT_EQ(records[1]["records_confirmed"], 20);
    EXPECT_EQ(records[1]["start_sent"], true);
    EXPECT_EQ(records[1]["error"].get<std::string>().rfind(said, 0), 0u);
}

TEST_F(StampPostgresRestart, ARepeatRunReconnectsAfterARestartAndGoesOnPastANumberNotReserved) {
    SKIP_UNDER_WINE("the Windows build has no database ledger");
    const std::string ledger = server->Address("reserving");
    auto board = harness::StartBoard();
    harness::ProcessOptions options;
    options.args = Args(harness::PortName(*board), ledger, "4");
    harness::ChildProcess child(options);
    // Between two boards: the board taken away, what happens, the next one.
    auto nextBoard = [&](int done, const std::function<void()>& meanwhile) {
        board->SetPowered(false);
        ASSERT_TRUE(child.WaitForStdout("Take board " + std::to_string(done) +
                                            " away (or switch it off); the next board is "
                                            "awaited once the line is quiet.\n" +
                                            kPrompt,
                                        kRunGuardMs))
            << child.Stdout();
        meanwhile();
        board->SetPowered(true);
    };

    ASSERT_TRUE(child.WaitForStdout("Board 1 (stamp 1): complete.", kRunGuardMs));
    nextBoard(1, [&] {
        server->Stop();
        server->Start();
    });
    ASSERT_TRUE(child.WaitForStdout("Board 2 (stamp 2): complete.", kRunGuardMs))
        << child.Stdout() << child.Stderr();
    nextBoard(2, [&] { server->Stop(); });
    ASSERT_TRUE(child.WaitForStdout("Board 3: ledger-error. Boards so far: 2 complete, 1 failed.\n",
                                    kRunGuardMs))
        << child.Stdout() << child.Stderr();
    const std::string wire = board->Received();
    nextBoard(3, [&] { server->Start(); });
    const harness::ProcessResult result = child.Wait(kRunGuardMs);

    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    EXPECT_NE(result.out.find("Board 4 (stamp 3): complete. Boards so far: 3 complete, 1 "
                              "failed.\nBoards in all: 3 complete, 1 failed.\n"),
              std::string::npos)
        << result.out;
    // Board 3 got no record line; the others got theirs.
    EXPECT_EQ(RecordLines(wire).size(), 40u);
    EXPECT_EQ(RecordLines(board->Received()).size(), 60u);
    const std::string said = "Stamp ledger " + ledger + ": ";
    EXPECT_EQ(result.err.rfind(said, 0), 0u) << result.err;
    // Said once, for board 3 alone (libpq's reason may take two lines).
    EXPECT_EQ(result.err.find(said, 1), std::string::npos) << result.err;
    EXPECT_EQ(Rows("reserving"), "1 used complete\n2 used complete\n3 used complete\n");

    const std::vector<report_test::Json> records = ReadRecords(report);
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[2]["board_number"], 3);
    EXPECT_EQ(records[2]["outcome"], "ledger-error");
    EXPECT_EQ(records[2]["exit_status"], 1);
    EXPECT_EQ(records[2]["records_sent"], 0);
    EXPECT_TRUE(records[2]["stamp"].is_null());
    EXPECT_EQ(records[2]["error"], result.err.substr(0, result.err.size() - 1));
    EXPECT_EQ(records[3]["stamp"]["value"], 3);
    EXPECT_EQ(records[3]["stamp"]["closed"], true);
}
