#pragma once
// Downloader: the command exchange with the board's boot loader and the
// download session built on it.
//
// Wire protocol: the host sends a one-letter command and CR LF; the board
// answers with lines ended by CR, LF, CR LF or LF CR. A line beginning with
// "+" acknowledges; one beginning with "-" is a message for the operator
// (printed without its "-"); anything else is ignored.

#include <cstdint>

#include "protocol/ProtocolOptions.h"
#include "serial/COMPort.h"
#include "text/LineBuf.h"
#include "text/UploadFile.h"

class Downloader {
public:
    // The session starts in StatePrompt. file must be open and stays owned
    // by the caller, as does port.
    Downloader(UploadFile& file, COMPort& port, const ProtocolOptions& options);

    // One step of the session: 0 while it goes on, 1 once it has finished
    // (successfully or on a protocol failure, reported on standard output).
    int Step();

    // Writes text (CR LF included) to port in one write; with debug, echoes
    // "Sent: %s\n".
    static void SendCommand(const char* text, COMPort& port, bool debug);
    // Reads port byte by byte into buffer until a "+" line completes (true;
    // the line stays readable through LineBuf::LastLine) or a read brings no
    // byte (false). Shows "-" lines, and every line with debug.
    static bool ReadReply(LineBuf& buffer, COMPort& port, bool debug);

    // implementation fields and states to be filled in
};
