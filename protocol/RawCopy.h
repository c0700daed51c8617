#pragma once
// Raw copy: a file byte for byte to the port, with the board's output shown
// between blocks.
//
// The file goes out in blocks of kRawBlockBytes, one port write each. After
// every block an echo pass reads whatever the board has sent so far (reads
// that return at once) and writes it unchanged to standard output, flushed
// once per pass that showed anything. What the board sends after the last
// pass is not shown.

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "protocol/ProtocolOptions.h"
#include "serial/COMPort.h"

inline constexpr size_t kRawBlockBytes = 128;
inline constexpr uint32_t kRawConfigureTimeoutMs = 10;

// Configures the port (then switches it to reads that return at once), opens
// dataFile in binary mode into stream (which the caller closes) and copies
// it. "Can't open file %s for upload\n" when it cannot be opened, "Error
// reading file %s\n" when reading fails before the end; both through
// FatalError (status 1, once the port has been given back). Port errors pass
// through as std::runtime_error.
void RunRawCopy(COMPort& port, const ProtocolOptions& options, const char* dataFile,
                std::FILE*& stream);

// Copies stream from its current position to its end, each block followed by
// an echo pass. Returns 0 at the end of the file, -1 when reading it failed
// (the bytes read before the failure have been sent). Prints nothing of its
// own.
int RawCopy(std::FILE* stream, COMPort& port);
