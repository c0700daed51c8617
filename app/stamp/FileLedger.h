#pragma once
// FileLedger: the ledger as a JSON Lines file, one line per event, appended
// only:
//   {"value": 17, "state": "reserved", "time": "...", "port": "...",
//    "board_number": 2, "run_id": null, "station": null}
//   {"value": 17, "state": "used", ..., "outcome": "complete"}
// value is a JSON integer for the number formats and ascii:N, a string of
// hexadecimal bytes with ":" for bytes:N. Reading the ledger and appending a
// reservation happen while this program holds the file alone (LockedLog),
// and the reservation is forced to disk before Reserve returns.
//
// A line that does not parse ends the run with "FILE:LINE: why", never
// guessed at. The one exception is a last line without its line end (a write
// cut short by a power cut before it was forced to disk, so no board got its
// number): it is ignored and said on standard error, and cut off before the
// next line is appended.
//
// A line that cannot be appended (a full disk) leaves the file as it was
// (LockedLog cuts off what part of it was written): the reservation or the
// closing is then a LedgerFault that may pass.

#include <string>

#include "app/stamp/StampLedger.h"
#include "text/LockedLog.h"

class FileLedger : public StampLedger {
  public:
    FileLedger(const StampPlan& plan);

    void Check() override;
    std::optional<StampValue> Reserve(const StampTaker& taker, const Deadline& deadline,
                                      LedgerFault& fault) override;
    bool Close(const StampValue& value, const StampTaker& taker, const char* state,
               const std::string& outcome, const Deadline& deadline, LedgerFault& fault) override;

    // What content holds (the whole file), read line by line; FatalError on
    // a line that does not parse. Returns the length of the finished lines.
    static size_t ReadLedger(const std::string& content, const StampPlan& plan,
                             LedgerValues& values, bool& unfinished);

  private:
    // Locks and reads the file; cuts an unfinished last line when cut.
    // False, with fault, the file unlocked, when the file failed.
    bool Load(bool cut, LedgerValues& values, LedgerFault& fault);
    // Appends line and unlocks the file; false with fault.
    bool AppendLine(const std::string& line, LedgerFault& fault);
    // The file's fault (LockedLog's words), the file unlocked.
    bool Faulted(LedgerFault& fault);
    [[noreturn]] void Failed();

    const StampPlan& plan;
    LockedLog log;
    bool unfinishedShown = false;
};

// One line of the ledger, line end included.
std::string LedgerLine(const StampFormat& format, const StampValue& value, const char* state,
                       const StampTaker& taker, const std::string* outcome);
