#pragma once
// Small reference models for the fuzz targets, written from the rules of each
// unit rather than from its code: when a target finds the unit and its model
// disagreeing, one of the two misreads the rules.

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace model {

// Reply lines: CR, LF, CR LF and LF CR end a line (a pair counts once, also
// split), CR CR and LF LF give an empty second line, zero bytes vanish, and a
// line reaching 64 KiB characters is ended before the byte that would make it
// longer.
class Lines {
  public:
    static constexpr size_t kLongest = 64 * 1024;

    // Feeds one byte; true when it completed a line (the line then waits in
    // Completed(), with its end character, until replaced).
    bool Feed(uint8_t byte) {
        if (byte == 0) {
            return false;
        }
        const bool isEnd = byte == '\r' || byte == '\n';
        if (!isEnd) {
            pairOpen = 0;
            bool cut = false;
            if (current.size() == kLongest) {
                Finish();
                cut = true;
            }
            current.push_back(static_cast<char>(byte));
            return cut;
        }
        if (pairOpen != 0 && pairOpen != byte) {
            pairOpen = 0;
            return false;
        }
        pairOpen = byte;
        current.push_back(static_cast<char>(byte));
        Finish();
        return true;
    }
    const std::string& Completed() const { return completed; }
    // The completed line without its end characters.
    std::string Trimmed() const {
        std::string text = completed;
        while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) {
            text.pop_back();
        }
        return text;
    }

  private:
    void Finish() {
        completed = current;
        current.clear();
    }
    std::string current;
    std::string completed;
    uint8_t pairOpen = 0;
};

// The upload file read as text, as the download reads it: a CR is dropped
// and the byte after it kept whatever it is; 0x1A ends a line and, met
// before any character of a read, the data; a read takes at most
// capacity - 1 characters up to and including LF. Each read is a piece: its
// text, and whether it filled the read without ending its line (the line
// goes on in the next piece).
struct Piece {
    std::string text;
    bool cut = false;
};

inline std::vector<Piece> ReadPieces(const std::string& file, size_t capacity, size_t* consumed) {
    std::vector<Piece> pieces;
    // A UTF-8 byte-order mark at the very start is no part of the first line.
    size_t at = file.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    for (;;) {
        std::string piece;
        bool endOfData = false;
        while (piece.size() + 1 < capacity && at < file.size()) {
            uint8_t byte = static_cast<uint8_t>(file[at++]);
            if (byte == '\r') {
                if (at == file.size()) {
                    break;
                }
                byte = static_cast<uint8_t>(file[at++]);
            } else if (byte == 0x1A) {
                endOfData = piece.empty();
                break;
            }
            piece.push_back(static_cast<char>(byte));
            if (byte == '\n') {
                break;
            }
        }
        if (endOfData || piece.empty()) {
            break;
        }
        const bool cut = piece.back() != '\n' && piece.size() + 1 == capacity;
        pieces.push_back({piece, cut});
    }
    *consumed = at;
    return pieces;
}

// What the download sends of the pieces: those beginning with ":"; one of 1
// to 9,998 characters ending in LF not preceded by CR goes out with CR LF
// instead, and one that ended without LF before filling a read (at the end
// of the file, or at 0x1A) gets CR LF; the piece of an over-long line goes
// as read.
inline std::vector<std::string> SentRecords(const std::string& file, size_t capacity,
                                            size_t* consumed) {
    std::vector<std::string> sent;
    for (const Piece& read : ReadPieces(file, capacity, consumed)) {
        std::string piece = read.text;
        const size_t n = piece.size();
        if (n <= 9998 && piece.back() == '\n' && !(n >= 2 && piece[n - 2] == '\r')) {
            piece.insert(n - 1, "\r");
        } else if (piece.back() != '\n' && n + 1 < capacity) {
            piece += "\r\n";  // a whole line without its end
        }
        if (piece[0] == ':') {
            sent.push_back(piece);
        }
    }
    return sent;
}

// A line the download skips that is a record all the same: a colon after a
// byte-order mark, or after white space (blank, tab, VT, FF); or hex digits
// alone, at least the 10 of the shortest record, white space around them
// aside.
inline bool LostRecord(std::string text) {
    while (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    if (text.rfind("\xEF\xBB\xBF:", 0) == 0) {
        return true;
    }
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; };
    size_t first = 0;
    while (first < text.size() && blank(text[first])) {
        ++first;
    }
    if (first > 0 && first < text.size() && text[first] == ':') {
        return true;
    }
    size_t end = text.size();
    while (end > first && blank(text[end - 1])) {
        --end;
    }
    if (end - first < 10) {
        return false;
    }
    for (size_t i = first; i < end; ++i) {
        if (!std::isxdigit(static_cast<unsigned char>(text[i]))) {
            return false;
        }
    }
    return true;
}

// The lines of the file (every piece up to one ending in LF, or the last):
// how many hold a lost record in a piece of their own (neither cut nor after
// a cut piece of the same line), and how many others the download skips,
// none of their pieces beginning with ':'.
struct SkippedLines {
    int64_t plain = 0;
    int64_t lost = 0;
};

inline SkippedLines CountSkippedLines(const std::string& file, size_t capacity) {
    SkippedLines count;
    size_t consumed = 0;
    bool sent = false, lost = false, afterCut = false, open = false;
    const auto close = [&] {
        count.lost += open && lost ? 1 : 0;
        count.plain += open && !lost && !sent ? 1 : 0;
        sent = lost = afterCut = open = false;
    };
    for (const Piece& piece : ReadPieces(file, capacity, &consumed)) {
        open = true;
        sent = sent || piece.text[0] == ':';
        lost = lost || (!piece.cut && !afterCut && piece.text[0] != ':' && LostRecord(piece.text));
        afterCut = piece.cut;
        if (piece.text.back() == '\n') {
            close();
        }
    }
    close();
    return count;
}

// A record file's lines: each ends in LF, and an LF after CR ends its line
// before the CR; bytes after the last LF are a last line that did not end.
struct RecordFileLine {
    size_t offset = 0;
    std::string bytes;
    bool ended = false;
};

inline std::vector<RecordFileLine> RecordFileLines(const std::string& content) {
    std::vector<RecordFileLine> lines;
    RecordFileLine line;
    for (size_t at = 0; at < content.size(); ++at) {
        if (content[at] != '\n') {
            line.bytes.push_back(content[at]);
            continue;
        }
        if (!line.bytes.empty() && line.bytes.back() == '\r') {
            line.bytes.pop_back();
        }
        line.ended = true;
        lines.push_back(line);
        line = RecordFileLine();
        line.offset = at + 1;
    }
    if (line.offset < content.size()) {
        lines.push_back(line);
    }
    return lines;
}

}  // namespace model
