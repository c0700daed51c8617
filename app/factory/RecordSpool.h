#pragma once
// RecordSpool: the record file (--report FILE) read as the store of
// records that wait for the database: its complete lines from a mark on,
// each with its number and, for a complete record, its id (read by
// app/records/RecordFile.h, which names each record).
//
// A complete record is a line that ends in a line end and holds a JSON
// object with at least version, mode, outcome, started and run_id. A last
// line without its line end (torn by a power loss, or still being written)
// is not taken: the chunk ends before it. A line of blanks only is no line
// of the store and is passed over without a word.

#include <cstdint>
#include <string>
#include <vector>

#include "app/factory/ForwardMark.h"

struct SpoolLine {
    int64_t number = 0;   // the line's number in the file, from 1
    std::string text;     // without its line end
    bool record = false;  // a complete record
    std::string id;       // a record's id (its record_id, or one made from its bytes)
    std::string problem;  // not a record: why
};

struct SpoolChunk {
    std::vector<SpoolLine> lines;
    ForwardMark end;    // just after the last line taken
    std::string tail;   // the file's bytes just before end (for the mark)
    bool atEnd = true;  // no complete line follows end
};

// Reads the complete lines of file from from on, up to about maxBytes (at
// least one line when there is one). False, with why, when the file cannot
// be read.
bool ReadSpool(const std::string& file, const ForwardMark& from, size_t maxBytes, SpoolChunk& chunk,
               std::string& why);
