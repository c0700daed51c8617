// The command exchange with the board's boot loader, shared by the download
// session and console mode's handshake: sending a command, reading its
// reply, clearing stale replies first, and identifying the loader.

#include <cstdio>
#include <cstring>
#include <string>

#include "errors/FatalError.h"
#include "protocol/Downloader.h"
#include "protocol/ProtocolMessages.h"
#include "text/Shown.h"

void Downloader::SendCommand(const char* text, COMPort& port, bool debug) {
    SendText(text, std::strlen(text), port, debug);
    if (debug) {
        std::fflush(stdout);
    }
}

void Downloader::SendText(const char* text, size_t length, COMPort& port, bool debug) {
    port.Write(text, static_cast<uint32_t>(length));
    if (debug) {
        ShowFormatted(messages::kSentFormat, text);
    }
}

bool Downloader::ReadReply(LineBuf& buffer, COMPort& port, bool debug, const ReplyWatch& watch) {
    for (;;) {
        char byte = 0;
        if (port.Read(&byte, 1) == 0) {
            return false;
        }
        if (watch.heard != nullptr) {
            *watch.heard = true;
        }
        if (buffer.PutChar(byte) == 0) {
            if (watch.deadline != nullptr && watch.deadline->Passed()) {
                return false;
            }
            continue;
        }
        const char* reply = buffer.GetLine();
        if (debug) {
            ShowFormatted(messages::kReceivedFormat, reply);
        }
        if (reply[0] == '-') {
            ShowFormatted(messages::kBoardMessageFormat, reply + 1);
            if (watch.observer != nullptr) {
                watch.observer->OnBoardMessage(reply + 1);
            }
        }
        if (debug || reply[0] == '-') {
            std::fflush(stdout);
        }
        if (reply[0] == '+') {
            return true;
        }
        if (watch.deadline != nullptr && watch.deadline->Passed()) {
            return false;
        }
    }
}

void Downloader::SettleLine(LineBuf& buffer, COMPort& port, bool debug, uint32_t readTimeoutMs,
                            const ReplyWatch& watch) {
    port.SetReadTimeouts(0, 0, kQuietMs);
    while (ReadReply(buffer, port, debug, watch)) {
    }
    port.SetReadTimeouts(0, 0, readTimeoutMs);
}

bool Downloader::AwaitReply(LineBuf& buffer, COMPort& port, bool debug, const ReplyWatch& watch) {
    port.DrainOutput();
    return ReadReply(buffer, port, debug, watch);
}

bool Downloader::Identify(LineBuf& buffer, COMPort& port, const ProtocolOptions& options,
                          const Deadline& limit) {
    SendCommand("?\r\n", port, options.debug);
    if (!ReadReply(buffer, port, options.debug, ReplyWatch{options.observer, &limit})) {
        return false;
    }
    const char* identity = buffer.LastLine() + 1;
    ShowFormatted(messages::kEstablishedCommunicationFormat, identity);
    std::fflush(stdout);
    if (options.observer != nullptr) {
        options.observer->OnBoardIdentified(identity);
    }
    port.Configure(options.baudRate, kDrainTimeoutMs);
    while (ReadReply(buffer, port, options.debug, ReplyWatch{options.observer, nullptr})) {
    }
    return true;
}

void Downloader::AwaitBoardGone(LineBuf& buffer, COMPort& port, const ProtocolOptions& options) {
    port.Configure(options.baudRate, kPollTimeoutMs);
    Deadline quiet;
    quiet.StartOnce(kGoneQuietMs);
    while (!quiet.Passed()) {
        bool heard = false;
        SendCommand("?\r\n", port, options.debug);
        while (ReadReply(buffer, port, options.debug, ReplyWatch{nullptr, nullptr, &heard})) {
        }
        if (heard) {
            quiet.Reset();
            quiet.StartOnce(kGoneQuietMs);
        }
    }
}

void Downloader::StartTimeout(Deadline& limit, const ProtocolOptions& options) {
    if (options.timeoutSeconds != 0) {
        limit.StartOnce(uint64_t{options.timeoutSeconds} * 1000);
    }
}

void Downloader::ReportTimeout(const char* format, const ProtocolOptions& options) {
    const std::string text = FormatText(format, static_cast<unsigned>(options.timeoutSeconds));
    Show(text.c_str());
    std::fflush(stdout);
    if (options.observer != nullptr) {
        options.observer->OnOutcome(SessionOutcome::Timeout,
                                    text.substr(0, text.find('\n')).c_str());
    }
}
