// The build without PostgreSQL: records stay in their file.
#include "app/factory/RecordDatabase.h"

std::unique_ptr<RecordDatabase> OpenRecordDatabase(const std::string& /*address*/,
                                                   const DatabaseWaits& /*waits*/) {
    return nullptr;
}

bool BuildHasRecordDatabase() {
    return false;
}

int AddressConnectTimeoutMs(const std::string& /*address*/) {
    return 0;
}

bool IsDatabaseAddress(const std::string& /*address*/, std::string& /*why*/) {
    return true;
}
