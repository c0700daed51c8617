// The cost of a reservation in a PostgreSQL ledger (--stamp-ledger
// postgresql://...), beside the file ledger's that stamp_bench measures: a
// server of the benchmark's own (tests/support/PostgresServer: a cluster in a
// temporary folder, a socket there, no TCP), which forces each commit to disk
// as a production server does, and the ledger as the program opens it.
//
// Measured, each on its own:
//   - opening the ledger on first use: connecting, creating the table, and
//     checking that a number is left (once per run, before the port is opened);
//   - opening it again once the table holds numbers;
//   - one reservation (advisory lock, the largest value read, one row
//     inserted, the commit forced to disk) on a table of kTableRows numbers;
//   - closing a reservation (one row updated, committed).
//
// Usage: stamp_postgres_bench [reservations (default 50)]
//
// Prints the figures and exits 0; says "skipped: why" and exits 0 when the
// server programs are not installed or the build keeps no database ledger;
// exits 1 when a measurement fails.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/stamp/StampLedger.h"
#include "errors/ProgramError.h"
#include "tests/support/PostgresServer.h"

namespace {

using Clock = std::chrono::steady_clock;

// Numbers the table holds when reservations are measured (as many values as
// stamp_bench's ledger file of 2000 lines names).
constexpr int kTableRows = 1000;
constexpr int kOpenings = 5;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

StampPlan PlanFor(const std::string& ledger) {
    StampPlan plan;
    std::string why;
    if (!ParseStampSpec("0x100:u32le", plan.spec, why)) {
        throw std::runtime_error(why);
    }
    plan.ledger = ledger;
    plan.start.counter.assign(plan.spec.format.CounterBytes(), 0);
    plan.start.counter.back() = 1;
    return plan;
}

// The ledger opened as a run opens it (connected and checked); the seconds
// it took in seconds.
std::unique_ptr<StampLedger> Open(const StampPlan& plan, double& seconds) {
    const Clock::time_point start = Clock::now();
    std::unique_ptr<StampLedger> ledger = OpenStampLedger(plan);
    ledger->Check();
    seconds = SecondsSince(start);
    return ledger;
}

// A reservation and a closing as a run makes them; a failure ends the
// benchmark.
StampValue Reserve(StampLedger& ledger, const StampTaker& taker) {
    std::string why;
    const std::optional<StampValue> value = ReserveWithPatience(ledger, taker, why);
    if (!value) {
        throw std::runtime_error("cannot reserve: " + why);
    }
    return *value;
}

void Close(StampLedger& ledger, const StampValue& value, const StampTaker& taker) {
    std::string why;
    if (!CloseWithPatience(ledger, value, taker, "used", "complete", why)) {
        throw std::runtime_error("cannot close: " + why);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int reservations = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
    std::string why;
    if (!BuildHasDatabaseLedger()) {
        std::printf(
            "stamp_postgres_bench: skipped: this build keeps ledgers in files only "
            "(VANTOIR_POSTGRESQL off)\n");
        return 0;
    }
    if (!harness::PostgresServer::Installed(why)) {
        std::printf("stamp_postgres_bench: skipped: %s\n", why.c_str());
        return 0;
    }
    try {
        harness::PostgresServer server(true);
        const StampPlan plan = PlanFor(server.Address("bench"));

        double firstOpen = 0;
        std::unique_ptr<StampLedger> ledger = Open(plan, firstOpen);
        StampTaker taker;
        taker.port = "/dev/ttyUSB0";
        taker.runId = "bench";
        taker.station = "bench";
        const Clock::time_point fillStart = Clock::now();
        for (int i = 0; i < kTableRows; ++i) {
            Close(*ledger, Reserve(*ledger, taker), taker);
        }
        const double fillSeconds = SecondsSince(fillStart);

        std::vector<double> reserve;
        std::vector<double> close;
        for (int i = 0; i < reservations; ++i) {
            Clock::time_point start = Clock::now();
            const StampValue value = Reserve(*ledger, taker);
            reserve.push_back(SecondsSince(start));
            start = Clock::now();
            Close(*ledger, value, taker);
            close.push_back(SecondsSince(start));
        }
        ledger.reset();
        std::vector<double> openings;
        for (int i = 0; i < kOpenings; ++i) {
            double seconds = 0;
            Open(plan, seconds);
            openings.push_back(seconds);
        }
        const std::string rows = server.Query("bench", "SELECT count(*) FROM vantoir_stamp_ledger");
        if (std::atoi(rows.c_str()) != kTableRows + reservations) {
            throw std::runtime_error("the table holds " + rows + " rows, not " +
                                     std::to_string(kTableRows + reservations));
        }

        std::string settings =
            server.Query("bench",
                         "SELECT string_agg(name || '=' || setting, ', ' ORDER BY name) FROM "
                         "pg_settings WHERE name IN ('fsync', 'synchronous_commit', "
                         "'wal_sync_method')");
        while (!settings.empty() && settings.back() == '\n') {
            settings.pop_back();
        }
        std::printf("PostgreSQL ledger: a server of its own on a local socket (%s)\n",
                    settings.c_str());
        std::printf("first use (connect, create the table, check): %.2f ms\n", firstOpen * 1000.0);
        std::printf("opening it again (connect, check):            %.2f ms (median of %d)\n",
                    Median(openings) * 1000.0, kOpenings);
        std::printf(
            "one reservation:                              %.2f ms (median of %d, "
            "table of %d numbers, one commit)\n",
            Median(reserve) * 1000.0, reservations, kTableRows);
        std::printf("closing it:                                   %.2f ms (median of %d)\n",
                    Median(close) * 1000.0, reservations);
        std::printf("filling the table: %d reservations and closings in %.2f s\n", kTableRows,
                    fillSeconds);
        return 0;
    } catch (const ProgramError& error) {
        std::fprintf(stderr, "stamp_postgres_bench: %s", error.what());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "stamp_postgres_bench: %s\n", error.what());
    }
    return 1;
}
