#pragma once
// RecordDatabase: the factory's table of records, vantoir_records, in a
// PostgreSQL database (--report-db URL). Records reach it only from their
// file (RecordForwarder.h): the file is the store, the table a copy that
// never holds a record twice.
//
// The table, in the database's default schema, made when it is missing (a
// role that may create it makes it once; a station's role needs only
// SELECT and INSERT on it). It is made only once the insert, prepared on
// each connection, finds it missing, and then under an advisory lock, so
// that stations starting at once make it once:
//   vantoir_records (
//     record_id    uuid PRIMARY KEY      -- the record's own name
//     run_id       text NOT NULL
//     station, port text; board_number integer; label text
//     started, ended timestamptz
//     outcome      text NOT NULL; exit_status integer
//     file_sha256  text; seconds double precision
//     record       jsonb NOT NULL)       -- the record itself, as its line
// The columns are taken from the record by the database itself; a record
// that does not fit them (a time that is no time, say) is refused.
//
// Store sends the records in one transaction, each in a savepoint of its
// own, so that a record the database refuses never blocks the others (a
// board's record, on a connection kept: one round trip, the commit in it); an
// insert of a record the table has already is a no-op (ON CONFLICT
// (record_id) DO NOTHING), so that forwarding a file twice, or two
// forwarders at once, store every record once.
//
// Every wait for the database is bounded (DatabaseWaits): a database that
// does not answer is found away, never waited on for longer. The
// connection is kept for the next Store (and may be started early,
// StartEarly); one made before and found broken by a Store (the server
// restarted) is made once more at once, and the records sent again.
// Builds without PostgreSQL (the Windows builds, the static build for the
// guest) have none: OpenRecordDatabase returns nullptr there.

#include <memory>
#include <string>
#include <vector>

// The longest waits, in milliseconds: for the connection to be made (the
// address's connect_timeout when it is shorter), and for each answer. A
// run's: a database that does not answer costs a board under a second, the
// program's own work around the wait included.
struct DatabaseWaits {
    int connectMs = 900;
    int answerMs = 900;
};

// A record to store: its id (a UUID's text) and its line, without the line
// end.
struct RecordToStore {
    std::string id;
    std::string line;
};

// What became of one record.
struct StoredRecord {
    enum class Result { Stored, HadAlready, Refused };
    Result result = Result::Refused;
    std::string why;  // Refused: the database's reason
};

class RecordDatabase {
  public:
    virtual ~RecordDatabase() = default;

    // Starts making the connection without waiting for it, so that the
    // server's work of letting a new client in is done meanwhile (a run calls
    // it before its board's session; Store finishes the connection, within
    // its wait). Nothing is said of a failure here: Store finds it.
    virtual void StartEarly() = 0;

    // Stores records in one transaction; results gets one entry per
    // record, in order. False, with why (the server's reason, or the wait
    // that went unanswered) when the database is away: nothing is stored
    // then.
    virtual bool Store(const std::vector<RecordToStore>& records,
                       std::vector<StoredRecord>& results, std::string& why) = 0;
};

// The database at address (a libpq address), not yet connected; nullptr
// in a build without PostgreSQL.
std::unique_ptr<RecordDatabase> OpenRecordDatabase(const std::string& address,
                                                   const DatabaseWaits& waits);

// The build has a PostgreSQL client.
bool BuildHasRecordDatabase();

// address is an address libpq takes (a URL or key=value pairs); why says
// what is wrong with it. Without a client: any text is.
bool IsDatabaseAddress(const std::string& address, std::string& why);

// The connect_timeout that address gives, in milliseconds; 0 when it gives
// none (or the build has no client to read it).
int AddressConnectTimeoutMs(const std::string& address);
