#include "protocol/Console.h"

#include <cstdint>
#include <cstdio>

#include "errors/PortError.h"
#include "protocol/Downloader.h"
#include "protocol/ProtocolMessages.h"
#include "serial/ConsoleInput.h"
#include "serial/Interrupt.h"
#include "serial/PortSelector.h"
#include "text/LineBuf.h"
#include "text/Shown.h"

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
    SessionObserver none;
    SessionObserver& observer = options.observer != nullptr ? *options.observer : none;
    observer.OnPhase(SessionPhase::Identify);
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

// The terminal on an open port: keys out, the board's bytes to the sink.
class Terminal {
  public:
    Terminal(COMPort& terminalPort, ConsoleInput& input, ConsoleSink& output)
        : port(terminalPort), keyboard(input), sink(output) {}

    // Serves keyboard and port until the port fails.
    [[noreturn]] void Run() {
        for (;;) {
            SendKeys();
            ShowBoardOutput();
        }
    }

    // After the port went away: says so, drops the keys typed while it is
    // away, opens it again as soon as it is back, and says so.
    void AwaitPortBack() {
        sink.OnPortGone();
        if (lineOpen) {
            Show("\n");
            lineOpen = false;
        }
        ShowFormatted(messages::kPortGoneFormat, port.Name().c_str());
        std::fflush(stdout);
        const uint32_t pollMs = IsUsbPortName(port.Name()) ? kReconnectUsbPollMs : kReconnectPollMs;
        while (!port.Reopen()) {
            DropKeys();
            WaitForInterrupt(pollMs);
        }
        DropKeys();
        sink.OnPortBack(port.DevicePath());
        ShowFormatted(messages::kPortBackFormat, port.Name().c_str(), port.DevicePath().c_str());
        std::fflush(stdout);
    }

  private:
    void SendKeys() {
        char key = 0;
        for (int sent = 0; sent < kMaxKeysPerBurst && keyboard.PollKey(0, key) == 1; ++sent) {
            port.Write(&key, 1);
        }
    }

    void DropKeys() {
        char key = 0;
        for (int dropped = 0; dropped < kMaxKeysPerBurst && keyboard.PollKey(0, key) == 1;
             ++dropped) {
        }
    }

    // Shows the board's output until a read brings nothing, then ends the
    // burst; nothing when the first read already brings nothing. Keys typed
    // meanwhile go out between the reads, so that a board that never pauses
    // still gets them.
    void ShowBoardOutput() {
        char buffer[kPortBufferBytes];
        uint32_t received = port.Read(buffer, kPortBufferBytes);
        if (received == 0) {
            return;
        }
        while (received > 0) {
            sink.Show(buffer, received);
            lineOpen = buffer[received - 1] != '\n';
            SendKeys();
            received = port.Read(buffer, kPortBufferBytes);
        }
        sink.EndOfBurst();
    }

    COMPort& port;
    ConsoleInput& keyboard;
    ConsoleSink& sink;
    bool lineOpen = false;  // the last byte shown did not end a line
};

}  // namespace

void PlainConsoleSink::Show(const char* bytes, uint32_t count) {
    ShowBytes(bytes, count);
}

void PlainConsoleSink::EndOfBurst() {
    std::fflush(stdout);
}

int RunConsole(COMPort& port, const ProtocolOptions& options, const ConsoleSetup& setup) {
    SessionObserver none;
    SessionObserver& observer = options.observer != nullptr ? *options.observer : none;
    if (setup.afterDownload) {
        port.SetReadTimeouts(0, 0, kTerminalReadTimeoutMs);
    } else {
        if (options.consoleHandshake && !Handshake(port, options)) {
            return 1;
        }
        port.Configure(options.baudRate, kTerminalReadTimeoutMs);
    }
    PlainConsoleSink plain;
    ConsoleSink& sink = setup.sink != nullptr ? *setup.sink : plain;
    // The keyboard is set up before the banner, so that a key typed once the
    // banner shows is already taken key by key, unechoed.
    ConsoleInput keyboard;
    observer.OnPhase(SessionPhase::Console);
    ShowFormatted("%s", setup.afterDownload ? messages::kEnteringConsoleAfterDownload
                                            : messages::kEnteringConsoleMode);
    std::fflush(stdout);
    sink.OnConsoleStarted(port.DevicePath());
    Terminal terminal(port, keyboard, sink);
    for (;;) {
        try {
            terminal.Run();
        } catch (const PortError&) {
            if (!setup.reconnect || port.StillThere()) {
                throw;
            }
        }
        terminal.AwaitPortBack();
    }
}
