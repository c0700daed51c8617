#pragma once
// The sources of a yield summary, read into one YieldSet as they stream:
// record files (RecordFile, line by line, each line's text dropped once its
// facts are taken) and the factory's table of records in PostgreSQL
// (vantoir_records, read row by row). A source that cannot be read ends the
// command through FatalError, naming it (a database's address with its
// password as ***, text/DatabaseAddress.h).
//
// A line or a row that is no record is skipped and said on standard error:
// FILE:LINE for a file (a torn last line too), the address and the record's
// id for a row; at most 20 such lines, then how many more.

#include <cstdint>
#include <string>

#include "app/yield/YieldSet.h"

class SkippedRecords {
  public:
    // Says "where: not a record (why); skipped" (or, for a torn last line,
    // that it is torn), while fewer than 20 have been said.
    void SayLine(const std::string& file, uint64_t line, const std::string& why);
    void SayTorn(const std::string& file, uint64_t line);
    void SayRow(const std::string& database, const std::string& id, const std::string& why);
    // Says how many more were skipped than said.
    void End() const;

  private:
    bool Counted();
    uint64_t count = 0;
};

// A source is a database when it is a PostgreSQL URL (postgresql://,
// postgres://); anything else is a record file.
bool IsDatabaseSource(const std::string& source);
// source as it is shown: a database's address with its password as ***.
std::string ShownSource(const std::string& source);

void ReadRecordFile(const std::string& path, YieldSet& set, SkippedRecords& skipped);
// The records of the table vantoir_records at url; the filters' times are
// given to the database too, so that it sends only what they keep. A build
// without PostgreSQL refuses any url.
void ReadRecordDatabase(const std::string& url, const YieldFilters& filters, YieldSet& set,
                        SkippedRecords& skipped);
