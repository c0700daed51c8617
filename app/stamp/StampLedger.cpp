#include "app/stamp/StampLedger.h"

#include <chrono>

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

std::string LedgerTimeNow() {
    return UtcIsoTime(std::chrono::system_clock::now());
}
