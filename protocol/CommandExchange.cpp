// The command exchange with the board's boot loader, shared by the download
// session and console mode's handshake: sending a command, reading its
// reply, clearing stale replies first, and identifying the loader.

#include <cstdio>
#include <cstring>

#include "errors/Messages.h"
#include "protocol/Downloader.h"

void Downloader::SendCommand(const char* text, COMPort& port, bool debug) {
    SendText(text, std::strlen(text), port, debug);
    if (debug) {
        std::fflush(stdout);
    }
}

void Downloader::SendText(const char* text, size_t length, COMPort& port, bool debug) {
    port.Write(text, static_cast<uint32_t>(length));
    if (debug) {
        std::printf(messages::kSentFormat, text);
    }
}

bool Downloader::ReadReply(LineBuf& buffer, COMPort& port, bool debug) {
    for (;;) {
        char byte = 0;
        if (port.Read(&byte, 1) == 0) {
            return false;
        }
        if (buffer.PutChar(byte) == 0) {
            continue;
        }
        const char* reply = buffer.GetLine();
        if (debug) {
            std::printf(messages::kReceivedFormat, reply);
        }
        if (reply[0] == '-') {
            std::printf(messages::kBoardMessageFormat, reply + 1);
        }
        if (debug || reply[0] == '-') {
            std::fflush(stdout);
        }
        if (reply[0] == '+') {
            return true;
        }
    }
}

void Downloader::SettleLine(LineBuf& buffer, COMPort& port, bool debug, uint32_t readTimeoutMs) {
    port.SetReadTimeouts(0, 0, kQuietMs);
    while (ReadReply(buffer, port, debug)) {
    }
    port.SetReadTimeouts(0, 0, readTimeoutMs);
}

bool Downloader::AwaitReply(LineBuf& buffer, COMPort& port, bool debug) {
    port.DrainOutput();
    return ReadReply(buffer, port, debug);
}

bool Downloader::Identify(LineBuf& buffer, COMPort& port, const ProtocolOptions& options) {
    SendCommand("?\r\n", port, options.debug);
    if (!ReadReply(buffer, port, options.debug)) {
        return false;
    }
    std::printf(messages::kEstablishedCommunicationFormat, buffer.LastLine() + 1);
    std::fflush(stdout);
    port.Configure(options.baudRate, kDrainTimeoutMs);
    while (ReadReply(buffer, port, options.debug)) {
    }
    return true;
}
