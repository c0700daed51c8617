#pragma once
// PseudoTerminal: a master/slave pseudo-terminal pair. The owner keeps the
// master; a program under test opens the slave by its path as its serial
// port. Both sides are raw (no echo, no line editing, no translation of CR
// or LF, 8 bits), so bytes pass unchanged in both directions.
//
// Errors in setting up raise std::runtime_error with the failing call named.

#include <string>

namespace sim {

class PseudoTerminal {
  public:
    // Opens a new pair; the master is non-blocking and close-on-exec. When
    // keepSlaveOpen is set, a descriptor of the slave is kept open as well, so
    // that the master does not read "hung up" (EIO) while no program has the
    // port open. raw = false leaves the slave's line discipline at its
    // defaults (used for a keyboard terminal).
    explicit PseudoTerminal(bool keepSlaveOpen = true, bool raw = true);
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    int MasterFd() const { return master; }
    // Descriptor of the slave kept open by us, or -1.
    int SlaveFd() const { return slave; }
    // The path of the slave device, e.g. /dev/pts/7.
    const std::string& SlavePath() const { return slavePath; }

    // Closes the master: the program on the slave side sees a hang-up.
    // Also closes our slave descriptor. Idempotent.
    void Close();
    bool IsOpen() const { return master >= 0; }

  private:
    int master = -1;
    int slave = -1;
    std::string slavePath;
};

}  // namespace sim
