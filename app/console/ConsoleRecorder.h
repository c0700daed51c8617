#pragma once
// ConsoleRecorder: the console's sink (protocol/ConsoleSink.h) for --log,
// --timestamps and --timestamps-iso.
//
// The board's bytes go to standard output as they arrive; with a stamp
// setting each line gets, at its first byte, "[  12.345] " (seconds since
// the console first started; a reconnect does not start them again) or
// "[2026-12-09 15:04:05.123] " (local date and time). With --log the same
// text (stamped when the screen is) is appended to the log with one write per
// read from the port, so that a run that is interrupted or killed has logged
// everything it showed; each start of a console and each reconnect first
// writes a header line:
//   === 2026-12-09 15:04:05 console on /dev/ttyUSB0 at 115200 baud ===
//   === 2026-12-09 15:04:09 reconnected to usb:0403:6001 (/dev/ttyUSB1) at 115200 baud ===
// (the port as given, and the device opened when it is another name). A
// header that would follow an unfinished line starts on a line of its own.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "app/Settings.h"
#include "protocol/ConsoleSink.h"
#include "text/AppendFile.h"
#include "text/LineStamper.h"

class ConsoleRecorder : public ConsoleSink {
  public:
    // Opens the log for appending when settings name one; FatalError "Can't
    // open log file %s\n" when it cannot be opened.
    explicit ConsoleRecorder(const Settings& settings);

    void OnConsoleStarted(const std::string& device) override;
    void Show(const char* bytes, uint32_t count) override;
    void EndOfBurst() override;
    void OnPortGone() override;
    void OnPortBack(const std::string& device) override;

  private:
    std::string Stamp() const;
    void LogHeader(const char* event, const std::string& device);
    void Log(const std::string& text);

    const Settings& settings;
    AppendFile log;
    bool logging = false;
    bool logLineOpen = false;  // the log's last byte did not end a line
    LineStamper stamper;
    std::optional<std::chrono::steady_clock::time_point> firstStart;
    std::string shown;  // the text of one read, stamps included
};
