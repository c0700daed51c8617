#include "app/stamp/StampLedger.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "app/stamp/FileLedger.h"
#include "app/stamp/PostgresLedger.h"

bool IsDatabaseLedger(const std::string& name) {
    return name.rfind("postgresql://", 0) == 0 || name.rfind("postgres://", 0) == 0;
}

std::unique_ptr<StampLedger> OpenStampLedger(const StampPlan& plan) {
    if (IsDatabaseLedger(plan.ledger)) {
        return OpenPostgresLedger(plan);
    }
    return std::make_unique<FileLedger>(plan);
}

// The program has one thread, so the C library's shared result is safe to use.
std::string LedgerTimeNow() {
    const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch - seconds).count();
    const std::time_t whole = static_cast<std::time_t>(seconds.count());
    const std::tm* utc = std::gmtime(&whole);
    char text[40] = "";
    if (utc != nullptr) {
        const size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", utc);
        std::snprintf(text + length, sizeof text - length, ".%03dZ", static_cast<int>(millis));
    }
    return text;
}
