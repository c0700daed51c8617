#pragma once
// Raw copy: a file byte for byte to the port, with the board's output shown
// between blocks.

#include <cstdio>

#include "protocol/ProtocolOptions.h"
#include "serial/COMPort.h"

// Configures the port, opens dataFile in binary mode into stream (which the
// caller closes) and copies it. "Can't open file %s for upload\n" and status
// 1 when it cannot be opened.
void RunRawCopy(COMPort& port, const ProtocolOptions& options, const char* dataFile,
                std::FILE*& stream);
