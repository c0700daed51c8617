#include "app/stamp/StampLedger.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

#include "app/stamp/FileLedger.h"
#include "app/stamp/PostgresLedger.h"
#include "text/UtcTime.h"

bool IsDatabaseLedger(const std::string& name) {
    return name.rfind("postgresql://", 0) == 0 || name.rfind("postgres://", 0) == 0;
}

std::unique_ptr<StampLedger> OpenStampLedger(const StampPlan& plan) {
    if (IsDatabaseLedger(plan.ledger)) {
        return OpenPostgresLedger(plan);
    }
    return std::make_unique<FileLedger>(plan);
}

namespace {

// Tries attempt until it succeeds, fails for good, or patience runs out
// (why: the last fault's).
bool WithPatience(const std::function<bool(const Deadline&, LedgerFault&)>& attempt,
                  std::string& why) {
    Deadline patience;
    patience.StartOnce(kLedgerPatienceMs);
    for (int tries = 1;; ++tries) {
        LedgerFault fault;
        if (attempt(patience, fault)) {
            return true;
        }
        why = fault.why;
        if (fault.passing && tries > 1) {
            std::this_thread::sleep_for(std::chrono::milliseconds(
                patience.RemainingMs(static_cast<uint32_t>(kLedgerPauseMs))));
        }
        if (!fault.passing || patience.Passed()) {
            return false;
        }
    }
}

}  // namespace

std::optional<StampValue> ReserveWithPatience(StampLedger& ledger, const StampTaker& taker,
                                              std::string& why) {
    std::optional<StampValue> value;
    WithPatience(
        [&](const Deadline& deadline, LedgerFault& fault) {
            value = ledger.Reserve(taker, deadline, fault);
            return value.has_value();
        },
        why);
    return value;
}

bool CloseWithPatience(StampLedger& ledger, const StampValue& value, const StampTaker& taker,
                       const char* state, const std::string& outcome, std::string& why) {
    return WithPatience(
        [&](const Deadline& deadline, LedgerFault& fault) {
            return ledger.Close(value, taker, state, outcome, deadline, fault);
        },
        why);
}

std::string LedgerTimeNow() {
    return UtcIsoTime(std::chrono::system_clock::now());
}
