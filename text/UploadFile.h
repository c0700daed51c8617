#pragma once
// UploadFile: the upload data file read as text, the same way on every
// platform.
//
// The file is opened in binary mode and its raw bytes are translated here,
// with the text-mode rules the board's tools have always used:
// - a CR byte is dropped and the byte after it is taken as it is, whatever it
//   is (so of CR CR only the first goes, and CR 0x1A keeps the 0x1A); a CR as
//   the last byte of the file is dropped;
// - a 0x1A byte ends the line being read without becoming part of it; the
//   next read goes on after it. When a read meets 0x1A before taking any
//   character, it reports the end of the data;
// - a read failure counts as the end of the data.
// - a UTF-8 byte-order mark (EF BB BF) as the file's first three bytes is
//   not part of the data: the first line begins after it, and the block
//   observer never sees it (editors on Windows save one; the board has no
//   use for it, and it would cost the first record);
// Once a read has reported the end of the data, every later read reports it
// too. Position() counts every byte consumed, dropped CRs, 0x1A and the
// byte-order mark included.
//
// Bytes are read in large blocks, so memory does not grow with the file.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

// The line buffer of the download: one read yields at most 9,999 characters.
inline constexpr size_t kUploadLineBytes = 10000;
// Longest record line, line feed included, that PrepareRecordLine ends with
// CR LF.
inline constexpr size_t kMaxCrLfLineChars = 9998;
// The UTF-8 byte-order mark, which a data file may begin with.
inline constexpr char kUtf8ByteOrderMark[] = "\xEF\xBB\xBF";
inline constexpr size_t kUtf8ByteOrderMarkBytes = 3;

class UploadFile {
  public:
    static constexpr size_t kBlockBytes = 64 * 1024;

    // readBytes: the size of one read from the file (tests use small ones);
    // 0 counts as 1.
    explicit UploadFile(size_t readBytes = kBlockBytes);
    ~UploadFile();
    UploadFile(const UploadFile&) = delete;
    UploadFile& operator=(const UploadFile&) = delete;

    // Opens path for reading from its start, closing any file open before;
    // false when it cannot be opened or is a directory.
    bool Open(const char* path);
    // Reads bytes held in memory instead of a file, by the same rules (a
    // leading byte-order mark is skipped here too); Size() is their length.
    void OpenBytes(std::shared_ptr<const std::string> bytes);
    void Close();
    bool IsOpen() const;

    // The file's length in bytes, measured when it was opened, so reading
    // never moves it; 0 when no file is open or its length cannot be measured
    // (a pipe, for one).
    int64_t Size() const;
    // Bytes consumed so far (0 when no file is open).
    int64_t Position() const;

    // Reads one line as fgets does: at most capacity - 1 characters, up to and
    // including the first LF, zero-terminated. Returns the number of
    // characters stored (which may include zero bytes from the file), 0 at the
    // end of the data, on a read failure or when no file is open. capacity
    // must be at least 2 for anything to be read; buffer is zero-terminated
    // whenever capacity is at least 1.
    size_t ReadLine(char* buffer, size_t capacity);
    // True when the end of the data was a read failure, not the file's end.
    bool ReadFailed() const;

    // observer is called with every block of the file's bytes as it is read,
    // untranslated but for a leading byte-order mark, which it never sees
    // (for a digest of the data as the board gets it). Set it before the
    // first read.
    using BlockObserver = std::function<void(const uint8_t* bytes, size_t count)>;
    void ObserveBlocks(BlockObserver observer);
    // Reads what is left of the file after the end of the data (after a
    // 0x1A, say), for the observer only; false on a read failure.
    bool ReadRest();

  private:
    bool Refill();
    void SkipByteOrderMark();
    bool TakeByte(uint8_t& byte);
    size_t CopyOrdinary(char* out, size_t limit);

    size_t ReadSource(uint8_t* into, size_t count);

    std::FILE* file = nullptr;
    std::shared_ptr<const std::string> memory;  // OpenBytes' bytes, or none
    size_t memoryPos = 0;
    BlockObserver blockObserver;
    std::unique_ptr<uint8_t[]> block;
    size_t blockBytes;
    size_t blockFill = 0;    // bytes in block
    size_t blockPos = 0;     // next byte of block to consume
    int64_t blockStart = 0;  // file offset of block[0]
    int64_t size = 0;
    bool endOfData = false;
    bool readFailed = false;
    bool markSeen = false;  // the file's first bytes looked at for the mark
};

// A line as read is a record line, to be sent and counted, when it begins
// with a colon; every other line is skipped.
inline bool IsRecordLine(const char* line, size_t length) {
    return length >= 1 && line[0] == ':';
}

// Prepares a record line for the wire in place: a line of 1 to 9,998
// characters that ends in LF, not already preceded by CR, gets CR LF; a line
// without LF that is shorter than a full read (the file's last line, or one
// ended by 0x1A) gets CR LF appended, so that it cannot run into what is sent
// after it. Every other line stays as read (a piece of an over-long line, a
// line of 9,999 characters). Writes the terminating zero after the result,
// so buffer must hold length + 3 bytes when the line can grow and length + 1
// otherwise: a buffer of kUploadLineBytes + 1 filled by ReadLine with
// kUploadLineBytes always suffices. Returns the new length.
size_t PrepareRecordLine(char* buffer, size_t length);
