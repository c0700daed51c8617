#include "protocol/Console.h"

#include <cstdint>
#include <cstdio>

#include "protocol/Downloader.h"
#include "protocol/ProtocolMessages.h"
#include "serial/ConsoleInput.h"
#include "text/LineBuf.h"

namespace {

constexpr uint32_t kTerminalReadTimeoutMs = 10;
constexpr uint32_t kPortBufferBytes = 512;
// A keyboard burst ends after this many characters even if more are waiting
// (a file given as standard input), so that the board's output is read in
// between and neither side can block the other.
constexpr int kMaxKeysPerBurst = 512;

// The download session's identification without its prompt: asks with "?"
// after every silent read until a "+" line comes, then swallows the rest of
// the greeting. False when the time-out passed first.
bool Handshake(COMPort& port, const ProtocolOptions& options) {
    LineBuf lineBuf;
    port.Configure(options.baudRate, Downloader::kPollTimeoutMs);
    Deadline limit;
    Downloader::StartTimeout(limit, options);
    while (!Downloader::Identify(lineBuf, port, options, limit)) {
        if (limit.Passed()) {
            Downloader::ReportTimeout(messages::kNoAnswerWithinFormat, options);
            return false;
        }
    }
    return true;
}

void SendKeys(COMPort& port, ConsoleInput& keyboard) {
    char key = 0;
    for (int sent = 0; sent < kMaxKeysPerBurst && keyboard.PollKey(0, key) == 1; ++sent) {
        port.Write(&key, 1);
    }
}

// Shows the board's output until a read brings nothing, then flushes it;
// false if the first read already did. Keys typed meanwhile go out between
// the reads, so that a board that never pauses still gets them.
bool ShowBoardOutput(COMPort& port, ConsoleInput& keyboard) {
    char buffer[kPortBufferBytes];
    uint32_t received = port.Read(buffer, kPortBufferBytes);
    if (received == 0) {
        return false;
    }
    while (received > 0) {
        std::fwrite(buffer, 1, received, stdout);
        SendKeys(port, keyboard);
        received = port.Read(buffer, kPortBufferBytes);
    }
    std::fflush(stdout);
    return true;
}

}  // namespace

int RunConsole(COMPort& port, const ProtocolOptions& options) {
    if (options.consoleHandshake && !Handshake(port, options)) {
        return 1;
    }
    port.Configure(options.baudRate, kTerminalReadTimeoutMs);
    // The keyboard is set up before the banner, so that a key typed once the
    // banner shows is already taken key by key, unechoed.
    ConsoleInput keyboard;
    std::printf("%s", messages::kEnteringConsoleMode);
    std::fflush(stdout);
    for (;;) {
        SendKeys(port, keyboard);
        ShowBoardOutput(port, keyboard);
    }
}
