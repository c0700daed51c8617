#pragma once
// UploadFile: the upload data file read as text, the same way on every
// platform.
//
// The file is read through its raw bytes with the text-mode rules the board's
// tools have always used: a CR byte is dropped and the byte after it is taken
// as it is (so of CR CR only the first goes); a 0x1A byte ends the line being
// read without becoming part of it, and when it comes before any character of
// a read, that read reports the end of the data. Position() counts every byte
// consumed, dropped CRs and 0x1A included.

#include <cstddef>
#include <cstdint>
#include <cstdio>

class UploadFile {
public:
    UploadFile() = default;
    ~UploadFile();
    UploadFile(const UploadFile&) = delete;
    UploadFile& operator=(const UploadFile&) = delete;

    // Opens path for reading; false when it cannot be opened.
    bool Open(const char* path);
    void Close();
    bool IsOpen() const;

    // The file's length in bytes, measured without moving the read position.
    int64_t Size() const;
    // Bytes consumed so far.
    int64_t Position() const;

    // Reads one line as fgets does: at most capacity - 1 characters, up to and
    // including the first LF, zero-terminated. Returns the number of
    // characters stored, 0 at the end of the data or on a read failure.
    size_t ReadLine(char* buffer, size_t capacity);

private:
    // filled in by the implementation
};

// Prepares a record line for the wire in place: a line of 1 to 9,998
// characters that ends in LF, not already preceded by CR, gets CR LF. Every
// other line stays as read. buffer must hold length + 2 bytes. Returns the
// new length.
size_t PrepareRecordLine(char* buffer, size_t length);
