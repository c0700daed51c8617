// --report-db and --forward-records: the factory's database of records.

#include "app/CommandLineMessages.h"
#include "app/cli/SwitchTables.h"
#include "app/factory/FactoryMessages.h"
#include "app/factory/RecordDatabase.h"
#include "errors/FatalError.h"
#include "text/DatabaseAddress.h"

namespace {

// The records go to the database only from their file, which --report
// names; a build without a PostgreSQL client refuses both switches.
void CheckFactorySwitches(Settings& settings, const GivenSwitches& given) {
    const char* typed = given.FirstOf({"--report-db", "--forward-records"});
    if (typed == nullptr) {
        return;
    }
    if (!BuildHasRecordDatabase()) {
        FatalError(messages::kNoRecordDatabaseFormat, typed);
    }
    if (settings.reportDb != nullptr && settings.reportFile == nullptr) {
        FatalError("%s", messages::kReportDbNeedsReport);
    }
    if (settings.forwardRecords && settings.reportDb == nullptr) {
        FatalError(messages::kForwardNeedsReportDbFormat, given.First("--forward-records"));
    }
    std::string why;
    if (settings.reportDb != nullptr && !IsDatabaseAddress(settings.reportDb, why)) {
        // libpq's reason may quote the address.
        const std::string typedAddress = settings.reportDb;
        const std::string shown = WithPasswordMasked(typedAddress);
        for (size_t at = why.find(typedAddress); at != std::string::npos;
             at = why.find(typedAddress, at + shown.size())) {
            why.replace(at, typedAddress.size(), shown);
        }
        FatalError(messages::kInvalidValueWhyFormat, given.Last("--report-db"), shown.c_str(),
                   why.c_str());
    }
}

const SwitchRow kRows[] = {
    {"--report-db", "<url>", "forwards each record of --report to a PostgreSQL database",
     [](const SwitchUse& use, Settings& s) { s.reportDb = use.value; }, ForGangRun::PassOn,
     SwitchRules::OwnRules, false, true},
    {"--forward-records", nullptr,
     "forwards what --report holds to --report-db's database, opens no port",
     [](const SwitchUse&, Settings& s) { s.forwardRecords = true; }, ForGangRun::PassOn,
     SwitchRules::OwnRules},
};

}  // namespace

const SwitchTable kFactorySwitches = MakeSwitchTable(kRows, CheckFactorySwitches);
