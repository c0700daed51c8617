#pragma once
// RecordFile: a --report file (JSON Lines) read line by line from a byte
// offset, as it streams: only the line at hand is in memory, never the file.
//
//   RecordFile file;
//   if (!file.Open(path, offset)) { ... file.Error() ... }
//   RecordLine line;
//   while (file.Next(line)) {
//       if (line.state == RecordLineState::Object && line.ended) { ... line.value ... line.id }
//   }
//   if (file.Failed()) { ... file.Error() ... }
//   // file.Offset(): just past the last line given, where a later read goes on
//
// A line ends in LF, or in CR LF; its bytes are those before that end. The
// last line of a file that does not end in a line end is given too, with
// ended false: a torn line (a write cut short by a power loss) or a record
// still being written. Each line is parsed as JSON; a JSON object gets its
// record's id (app/records/RecordId.h): its record_id key when it has one
// (a UUID, given in lower case; a null record_id counts as none), else the
// name made from the line's bytes.
//
// What counts as a record is the caller's to decide: a forward to the
// database wants a complete record (IsCompleteRecord), a summary wants the
// keys it counts by. A caller that needs only some of the keys names them,
// and the others are skipped while the line is parsed, never kept: a summary
// of a million records then builds no more of each than it reads.

#include <cstdint>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

enum class RecordLineState {
    Object,       // a JSON object, with its id
    NotJson,      // no JSON value (or more than one, or text after it)
    NotObject,    // JSON, but no object
    BadRecordId,  // an object whose record_id is not a UUID
    TooLong,      // longer than RecordFile::kLongestLine: not parsed
};

// Why a line that is not a record is none, for people ("not JSON", ...).
const char* RecordLineStateText(RecordLineState state);

struct RecordLine {
    uint64_t offset = 0;  // of the line's first byte in the file
    uint64_t number = 0;  // the line's number in the file, the first line 1
    std::string bytes;    // without the line end (at most kLongestLine of a longer line)
    bool ended = false;   // it ends in a line end
    RecordLineState state = RecordLineState::NotJson;
    nlohmann::json value;  // the object (the keys asked for), else null
    std::string id;        // the record's id; empty unless state is Object
};

// Parses line.bytes into line.state, line.value and line.id as Next does
// (for a record's text that comes from elsewhere, a database's row say);
// keys as RecordFile::Open takes them.
void ParseRecordLine(RecordLine& line, const std::set<std::string>& keys);

// A complete record: a line that ends in a line end and holds a
// JSON object with at least version, mode, outcome, started and run_id.
bool IsCompleteRecord(const RecordLine& line);

class RecordFile {
  public:
    // A line longer than this is no record: what is kept of it is cut there.
    static constexpr size_t kLongestLine = 16 * 1024 * 1024;

    // Reads the file in blocks of blockBytes (a small one only for tests).
    explicit RecordFile(size_t blockBytes = 64 * 1024);
    ~RecordFile();
    RecordFile(const RecordFile&) = delete;
    RecordFile& operator=(const RecordFile&) = delete;

    // Opens path for reading from offset, whose line has the number given
    // (when reading from the start, 1). keys: the top-level keys each line's
    // value keeps (record_id is always read); empty: all. False, with
    // Error(), when it cannot be opened or the offset cannot be reached.
    bool Open(const std::string& path, uint64_t offset = 0, uint64_t firstLineNumber = 1,
              std::set<std::string> keys = {});

    // The next line into line; false at the end of the file, or when reading
    // failed (Failed(), Error()).
    bool Next(RecordLine& line);

    // Just past the last line given (its line end included).
    uint64_t Offset() const { return offset; }
    bool Failed() const { return failed; }
    const std::string& Error() const { return error; }

  private:
    bool Fill();

    std::ifstream stream;
    std::vector<char> buffer;
    size_t begin = 0;  // of the unread bytes in buffer
    size_t end = 0;
    uint64_t offset = 0;
    uint64_t nextNumber = 1;
    bool atEnd = false;
    bool failed = false;
    std::string error;
    std::set<std::string> keys;
};
