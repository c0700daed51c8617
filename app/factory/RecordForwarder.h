#pragma once
// RecordForwarder: store and forward of a run's records (--report FILE
// --report-db URL). FILE is the store: every record is forced to disk there
// first (app/report/RunReport.h). Then the run calls Forward, which sends the
// database every complete record of FILE after the mark beside it
// (ForwardMark.h) in one transaction (RecordDatabase.h), and moves the mark
// once it is committed. What the database has already is not stored twice,
// so a forward may always read again.
//
// The database away (down, unreachable, a wrong password, the table
// refused) is never the board's failure: Forward says on one line how many
// records wait in FILE and why, and the records wait there, in order, for
// the next forward. A database that does not answer costs a forward at most
// DatabaseWaits' times (a second for a run's). Once it was found away, a run
// of several boards lets it be for kRetryAfter before it tries again; the
// boards in between only say what waits. The connection is kept from one
// board to the next.
//
// A line that is no record, or a record the database refuses, is left in
// FILE and said (FILE:LINE: why) by the forward that passes it; it never
// blocks the records after it.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/factory/RecordDatabase.h"
#include "app/factory/RecordSpool.h"

// What forwards did, line by line.
struct ForwardTally {
    long long forwarded = 0;   // records the database did not have
    long long hadAlready = 0;  // records it had
    long long refused = 0;     // complete records it refused
    // The lines that could not be forwarded, each as said: "FILE:LINE: why\n".
    std::vector<std::string> left;
    // Anything else to say (a mark that could not be written), with line ends.
    std::string notes;
};

// Stores chunk's records in database and moves file's mark past the chunk
// once they are committed; tally takes what became of each line. False, with
// why, when the database is away (nothing is stored; the mark stays).
bool ForwardChunk(RecordDatabase& database, const std::string& file, const SpoolChunk& chunk,
                  ForwardTally& tally, std::string& why);

// The complete records of chunk.
long long RecordsIn(const SpoolChunk& chunk);

// "N records wait in FILE for the database: why".
std::string RecordsWaitText(long long count, const std::string& file, const std::string& why);

class RecordForwarder {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kRetryAfter{60};

    // For the run's file and database address; nothing is connected yet.
    // database nullptr: the build has none (the command line refuses that
    // before a run starts).
    RecordForwarder(std::string recordFile, std::unique_ptr<RecordDatabase> database);

    // Starts connecting to the database without waiting for it (the run
    // calls it before its board's session, so that the connection is made
    // meanwhile).
    void StartEarly();

    // Forwards what FILE holds after its mark. Returns what is to be said on
    // standard error, each line with its line end; empty when nothing.
    std::string Forward(Clock::time_point now = Clock::now());

  private:
    std::string file;
    std::unique_ptr<RecordDatabase> database;
    std::optional<Clock::time_point> nextTry;  // after the database was found away
    std::string awayBecause;
};

// The forwarder of a run's --report FILE and --report-db URL, with a run's
// waits; nullptr when address is nullptr.
std::unique_ptr<RecordForwarder> MakeRecordForwarder(const char* recordFile, const char* address);
