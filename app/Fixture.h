#pragma once
// Fixture: a board started without a person, for --reset, --reset-end,
// --power-command and --start-when (download mode only).
//
// In place of the power-cycle prompt (as the download session's
// BoardStarter) it prints one line saying what it does instead ("Starting
// the board by the power command, then the line sequence dtr=0,5000ms,dtr=1
// instead of a power cycle."; a gang's run leaves that to the gang), runs
// the power command, then the line sequence; "?" polling follows.
//
// The power command runs through the system's command interpreter
// (process/ShellCommand.h) with VANTOIR_PORT (the port as given to -P),
// VANTOIR_DEVICE (the device opened) and VANTOIR_BOARD (the board's number
// in the run, 1 for a single download) in its environment. An exit status
// other than 0, or a command still running after --timeout seconds (then
// ended with all it started), ends the run with status 1 and "Power command
// failed: ..." on standard error (PowerCommandError); the record's outcome
// is "power-command-failed".
//
// With any line switch the port must be able to drive its lines: Prepare
// refuses one that cannot (a pseudo-terminal) before anything is sent, as a
// port error. After each board's session, whatever its end, EndBoard runs
// the --reset-end sequence.
//
// --start-when LINE=LEVEL (with --repeat): before each board the run waits
// until the input line has the level (looked at every kLevelLookMs), and
// after the board until it has left it; only the operator's request to end
// the run ends these waits.

#include <cstdint>
#include <optional>
#include <string>

#include "app/RunReport.h"
#include "app/Settings.h"
#include "errors/ProgramError.h"
#include "protocol/BoardStarter.h"
#include "serial/COMPort.h"
#include "serial/LineSequence.h"

// The power command failed; the run ends with its message and status 1.
class PowerCommandError : public ProgramError {
  public:
    using ProgramError::ProgramError;
};

class Fixture : public BoardStarter {
  public:
    static constexpr uint32_t kLevelLookMs = 20;

    // report: the run's record, or nullptr.
    Fixture(const Settings& settings, RunReport* report);

    // Any of the fixture's switches was given.
    static bool InUse(const Settings& settings);
    // The board is started by a command or the lines, not by a person.
    bool StartsBoard() const { return settings.powerCommand != nullptr || reset.has_value(); }
    bool WaitsForStartSignal() const { return startWhen.has_value(); }
    // The line that replaces the power-cycle prompt, with its line end.
    std::string InsteadLine() const;

    // Refuses a port that cannot drive its lines when a switch needs them
    // (PortError).
    void Prepare(COMPort& port) const;
    // The board about to be started, for VANTOIR_BOARD.
    void SetBoardNumber(uint32_t number) { boardNumber = number; }

    void Start(COMPort& port) override;

    // Runs --reset-end, if given. Quietly: port errors are swallowed (an
    // error already ends the run).
    void EndBoard(COMPort& port, bool quietly) const;

    // Waits for the start signal's level; false when the operator ended the
    // run meanwhile. The wait's seconds go into the record of the board
    // started next (SetStartWait).
    bool AwaitStartSignal(COMPort& port);
    // Waits for the start signal to leave its level; false as above.
    bool AwaitStartSignalEnd(COMPort& port);
    // Puts the last start-signal wait into the current record.
    void RecordStartWait() const;

  private:
    bool AwaitLevel(COMPort& port, bool level);
    void RunPowerCommand(COMPort& port);

    const Settings& settings;
    RunReport* report;
    std::optional<LineSequence> reset;
    std::optional<LineSequence> resetEnd;
    std::optional<LineLevel> startWhen;
    uint32_t boardNumber = 1;
    double startWaitSeconds = 0;
};
