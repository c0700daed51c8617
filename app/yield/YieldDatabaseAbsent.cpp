// The build without PostgreSQL: a database among the sources is refused.
#include "app/yield/YieldMessages.h"
#include "app/yield/YieldSources.h"
#include "errors/FatalError.h"

void ReadRecordDatabase(const std::string& url, const YieldFilters& /*filters*/, YieldSet& /*set*/,
                        SkippedRecords& /*skipped*/) {
    FatalError(messages::kNoDatabaseSourceFormat, ShownSource(url).c_str());
}
