#pragma once
// LoaderProtocol: the board's side of the line protocol, without any I/O.
//
// Bytes from the host go in through Feed; what the board sends back comes out
// as a list of Emissions, each to be sent a given time after the one before
// (Board does the sending and the pacing). The host's lines end at CR or LF;
// empty lines are ignored. A line is taken when its end arrives:
//   "?"  the first silentPolls get no answer (or only pollMessages); then
//        pollMessages, "+" identity and the greeting lines
//   "R"  the first ignoreRequests get no answer; then requestMessages, "+";
//        the record count starts again from 0
//   ":"  a record line: counted after an "R"; checked for syntax, length and
//        checksum; records before the first "R" are not counted
//   "C"  the first ignoreCounts get no answer; then one "-" line per bad
//        record ("-Line 17: checksum error"), then "+" and the count
//   "W"  flashProgressLines "-" lines, one every flashIntervalMs, then "+"
//   "S"  the program counts as started; startMessages are sent, then the
//        program's lines (programLines)
// Anything else is counted as an unknown line and gets no answer.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sim/BoardConfig.h"
#include "sim/HexRecord.h"

namespace sim {

// Bytes to send, delayMs after the previous emission has been sent.
struct Emission {
    int delayMs = 0;
    std::string bytes;
    // The end of the acknowledgement of "W", which the host has to wait for
    // before it sends "S".
    bool flashAcknowledgement = false;
    // Printed by the started program, which runs on while its port is away
    // and goes on where it was when the port comes back (Board::Vanish).
    bool program = false;
};

// What the board has seen so far.
struct BoardSummary {
    int polls = 0;         // "?" lines
    int requests = 0;      // "R" lines
    int countQueries = 0;  // "C" lines
    int flashes = 0;       // "W" lines
    int starts = 0;        // "S" lines
    int unknownLines = 0;  // other non-empty lines that are not records
    int records = 0;       // record lines counted since the last "R"
    int badRecords = 0;    // of those, the ones that failed the check:
    int checksumErrors = 0;
    int lengthErrors = 0;
    int syntaxErrors = 0;
    int strayRecords = 0;  // record lines before any "R"
    int64_t bytesReceived = 0;
    bool identified = false;    // a "?" was acknowledged
    bool countMatched = false;  // the last "C" was answered with the true count,
                                // and no record arrived after it
    bool flashed = false;       // a "W" was acknowledged after that "C"
    bool started = false;       // an "S" arrived after that "C"
    bool hungUp = false;        // the board closed the line
    // An "S" arrived while the acknowledgement of "W" was still waiting to be
    // sent: the host did not wait for the flash to be written.
    // Kept by Board, which knows what is still queued.
    bool startedWhileSending = false;
    // A complete, valid download: at least one record, none bad, the count
    // asked and answered truly, then (with expectFlash) "W" acknowledged and
    // (with expectStart) "S".
    bool downloadComplete = false;
};

class LoaderProtocol {
  public:
    explicit LoaderProtocol(const BoardConfig& config);

    // Takes bytes received from the host. Returns what to send in answer, in
    // order. Once a hang-up limit is reached (HangUpDue) the rest of bytes,
    // and everything later, is not taken; LastTaken says how many were.
    std::vector<Emission> Feed(std::string_view bytes);
    size_t LastTaken() const { return lastTaken; }

    // How many of the next bytes may still be taken before the hang-up limit
    // on bytes is reached (-1 = no limit).
    int64_t BytesBeforeHangUp() const;
    // True once a hang-up limit has been reached; the board closes the line.
    bool HangUpDue() const { return hangUpDue; }
    void NoteHungUp() { summary.hungUp = true; }

    const BoardSummary& Summary() const { return summary; }

    // The summary in a few human-readable lines, each ending in "\n".
    static std::string FormatSummary(const BoardSummary& summary);

  private:
    void TakeByte(char byte, std::vector<Emission>& out);
    void TakeLine(const std::string& line, std::vector<Emission>& out);
    void TakeRecord(const std::string& line, std::vector<Emission>& out);
    void AnswerPoll(std::vector<Emission>& out);
    void AnswerRequest(std::vector<Emission>& out);
    void AnswerCount(std::vector<Emission>& out);
    void AnswerFlash(std::vector<Emission>& out);
    void AnswerStart(std::vector<Emission>& out);
    // Appends line (plus CR LF, noise and splitting as configured).
    void EmitLine(const std::string& line, int delayMs, std::vector<Emission>& out);
    // Appends an acknowledgement line, repeated as configured; returns the
    // end, in out, of the emissions of its first copy.
    size_t EmitAck(const std::string& line, int delayMs, std::vector<Emission>& out);
    bool Silent() const;
    void UpdateComplete();

    BoardConfig config;
    BoardSummary summary;
    std::string partialLine;
    std::vector<std::string> badRecordNotes;
    int ignoredPolls = 0;
    int ignoredRequests = 0;
    int ignoredCounts = 0;
    bool requestAnswered = false;
    bool countAnswered = false;
    bool requested = false;
    bool connected = false;
    bool hangUpDue = false;
    size_t lastTaken = 0;
};

}  // namespace sim
