// The build without PostgreSQL: a database ledger is refused.
#include "app/stamp/PostgresLedger.h"
#include "app/stamp/StampMessages.h"
#include "errors/FatalError.h"

std::unique_ptr<StampLedger> OpenPostgresLedger(const StampPlan& plan) {
    FatalError(messages::kNoPostgresLedgerFormat, LedgerShownName(plan.ledger).c_str());
}

LedgerSummary ListPostgresLedger(const std::string& address) {
    FatalError(messages::kNoPostgresLedgerFormat, LedgerShownName(address).c_str());
}

bool BuildHasDatabaseLedger() {
    return false;
}
