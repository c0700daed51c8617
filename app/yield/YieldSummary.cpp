#include "app/yield/YieldSummary.h"

#include <algorithm>
#include <map>
#include <unordered_map>

#include "app/yield/YieldTime.h"
#include "errors/FormatText.h"

namespace {

// A group as it is filled.
struct GroupWork {
    GroupFigures figures;
    uint64_t streak = 0;  // failed counted runs in a row so far
    bool keepsSeconds = true;
    std::vector<int64_t> seconds;  // of the counted runs; sorted once filled

    bool HasRecords() const { return figures.runs + figures.aborted + figures.noBoard > 0; }
};

constexpr size_t kMostGroups = 6;  // all, station, port, image, day, bucket

struct Groups {
    GroupWork all;
    std::vector<GroupWork> stations;
    std::vector<GroupWork> ports;
    std::vector<GroupWork> images;
    std::map<int64_t, GroupWork> days;
    std::map<int64_t, GroupWork> buckets;
    bool hourly = true;

    // The groups of a record that touched a board (or tried); how many.
    size_t Of(const RunFact& fact, GroupWork* (&into)[kMostGroups]) {
        if (fact.kind == RunKind::Untouched) {
            return 0;
        }
        size_t count = 0;
        into[count++] = &all;
        into[count++] = &stations[fact.station];
        into[count++] = &ports[fact.port];
        if (fact.image != kNoIndex) {
            into[count++] = &images[fact.image];
        }
        into[count++] = &days[DayOf(fact.started)];
        const int64_t bucket = hourly ? Floor(fact.started, kMillisecondsPerHour)
                                      : DayOf(fact.started) * kMillisecondsPerDay;
        GroupWork& work = buckets[bucket];
        work.keepsSeconds = false;
        into[count++] = &work;
        return count;
    }

    static int64_t Floor(int64_t value, int64_t step) {
        return (value >= 0 ? value : value - (step - 1)) / step * step;
    }
};

void CountRecord(GroupWork& group, const RunFact& fact) {
    GroupFigures& figures = group.figures;
    if (fact.kind == RunKind::Aborted) {
        ++figures.aborted;
        return;
    }
    if (fact.kind == RunKind::NoBoard) {
        ++figures.noBoard;
        return;
    }
    ++figures.runs;
    if (fact.passed) {
        ++figures.passed;
        group.streak = 0;
    } else {
        ++figures.failed;
        figures.longestStreak = std::max(figures.longestStreak, ++group.streak);
    }
    if (group.keepsSeconds) {
        group.seconds.push_back(fact.seconds);
    }
    if (fact.unit == kNoIndex) {  // a unit of its own
        ++figures.units;
        figures.firstPassed += fact.passed ? 1 : 0;
        figures.lastPassed += fact.passed ? 1 : 0;
    }
}

// The labelled units: each unit's counted runs in the order they started,
// its first and last run in each group it has runs in.
void CountUnits(const std::vector<RunFact>& facts, Groups& groups) {
    std::vector<uint32_t> order;
    for (size_t i = 0; i < facts.size(); ++i) {
        if (facts[i].kind == RunKind::Counted && facts[i].unit != kNoIndex) {
            order.push_back(static_cast<uint32_t>(i));
        }
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](uint32_t a, uint32_t b) { return facts[a].unit < facts[b].unit; });
    std::unordered_map<GroupWork*, bool> lastPassed;
    for (size_t at = 0; at < order.size();) {
        const uint32_t unit = facts[order[at]].unit;
        lastPassed.clear();
        for (; at < order.size() && facts[order[at]].unit == unit; ++at) {
            const RunFact& fact = facts[order[at]];
            GroupWork* into[kMostGroups];
            const size_t count = groups.Of(fact, into);
            for (size_t i = 0; i < count; ++i) {
                const auto placed = lastPassed.emplace(into[i], fact.passed);
                if (placed.second) {
                    ++into[i]->figures.units;
                    into[i]->figures.firstPassed += fact.passed ? 1 : 0;
                }
                placed.first->second = fact.passed;
            }
        }
        for (const auto& group : lastPassed) {
            group.first->figures.lastPassed += group.second ? 1 : 0;
        }
    }
}

// The smallest value with at least percent % of the sorted values at or
// below it.
int64_t NearestRank(const std::vector<int64_t>& sorted, uint64_t percent) {
    const uint64_t rank = (percent * sorted.size() + 99) / 100;
    return sorted[static_cast<size_t>(rank > 0 ? rank - 1 : 0)];
}

void FinishGroup(GroupWork& group) {
    std::sort(group.seconds.begin(), group.seconds.end());
    if (!group.seconds.empty()) {
        group.figures.p50 = NearestRank(group.seconds, 50);
        group.figures.p90 = NearestRank(group.seconds, 90);
    }
}

Groups Fill(const YieldSet& set, const YieldSummary& summary) {
    Groups groups;
    groups.hourly = summary.last - summary.first <= 2 * kMillisecondsPerDay;
    groups.stations.resize(set.Stations().Size());
    groups.ports.resize(set.Ports().size());
    groups.images.resize(set.Images().size());
    for (const RunFact& fact : set.Facts()) {
        GroupWork* into[kMostGroups];
        const size_t count = groups.Of(fact, into);
        for (size_t i = 0; i < count; ++i) {
            CountRecord(*into[i], fact);
        }
    }
    CountUnits(set.Facts(), groups);
    FinishGroup(groups.all);
    for (auto* kind : {&groups.stations, &groups.ports, &groups.images}) {
        for (GroupWork& group : *kind) {
            FinishGroup(group);
        }
    }
    for (auto& day : groups.days) {
        FinishGroup(day.second);
    }
    return groups;
}

// The indexes of the groups that hold a record.
std::vector<uint32_t> WithRecords(const std::vector<GroupWork>& groups) {
    std::vector<uint32_t> indexes;
    for (uint32_t i = 0; i < groups.size(); ++i) {
        if (groups[i].HasRecords()) {
            indexes.push_back(i);
        }
    }
    return indexes;
}

YieldRow Row(GroupKind kind, std::string station, std::string key, const GroupWork& work) {
    YieldRow row;
    row.kind = kind;
    row.station = std::move(station);
    row.key = std::move(key);
    row.figures = work.figures;
    return row;
}

void AddStationRows(const YieldSet& set, const Groups& groups, YieldSummary& summary) {
    std::vector<uint32_t> order = WithRecords(groups.stations);
    std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        return set.Stations().Name(a) < set.Stations().Name(b);
    });
    for (uint32_t station : order) {
        const GroupWork& work = groups.stations[station];
        summary.rows.push_back(Row(GroupKind::Station, set.Stations().Name(station), "", work));
        if (work.seconds.empty()) {
            continue;
        }
        const std::vector<int64_t>& sorted = work.seconds;
        summary.cycles.push_back({set.Stations().Name(station), sorted.size(), sorted.front(),
                                  NearestRank(sorted, 10), NearestRank(sorted, 25),
                                  NearestRank(sorted, 50), NearestRank(sorted, 75),
                                  NearestRank(sorted, 90), sorted.back()});
    }
}

void AddPortRows(const YieldSet& set, const Groups& groups, YieldSummary& summary) {
    std::vector<uint32_t> order = WithRecords(groups.ports);
    const auto& ports = set.Ports();
    std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        const std::string& stationA = set.Stations().Name(ports[a].station);
        const std::string& stationB = set.Stations().Name(ports[b].station);
        return stationA != stationB ? stationA < stationB : ports[a].name < ports[b].name;
    });
    for (uint32_t port : order) {
        const GroupFigures& figures = groups.ports[port].figures;
        const GroupFigures& station = groups.stations[ports[port].station].figures;
        YieldRow row = Row(GroupKind::Port, set.Stations().Name(ports[port].station),
                           ports[port].name, groups.ports[port]);
        row.flag = FlagReason(figures.longestStreak, figures.runs, figures.passed,
                              station.runs - figures.runs, station.passed - figures.passed);
        summary.rows.push_back(row);
    }
}

void AddImageRows(const YieldSet& set, const Groups& groups, YieldSummary& summary) {
    std::vector<uint32_t> order = WithRecords(groups.images);
    const auto& images = set.Images();
    std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        const uint64_t runsA = groups.images[a].figures.runs;
        const uint64_t runsB = groups.images[b].figures.runs;
        return runsA != runsB ? runsA > runsB : images[a].sha256 < images[b].sha256;
    });
    for (uint32_t image : order) {
        YieldRow row = Row(GroupKind::Image, "", images[image].sha256, groups.images[image]);
        row.file = images[image].file;
        summary.rows.push_back(row);
    }
}

void AddOutcomeRows(const YieldSet& set, YieldSummary& summary) {
    std::vector<uint64_t> counts(set.Outcomes().Size(), 0);
    uint64_t runs = 0;  // counted and aborted
    for (const RunFact& fact : set.Facts()) {
        if (fact.kind != RunKind::NoBoard) {
            ++counts[fact.outcome];
            runs += fact.kind == RunKind::Untouched ? 0 : 1;
        }
    }
    std::vector<YieldRow> rows;
    for (uint32_t i = 0; i < counts.size(); ++i) {
        if (counts[i] == 0) {
            continue;
        }
        YieldRow row;
        row.kind = GroupKind::Outcome;
        row.key = set.Outcomes().Name(i);
        row.figures.runs = counts[i];
        if (!IsUntouchedOutcome(row.key)) {
            row.shareTenths = (2000 * counts[i] + runs) / (2 * runs);
        }
        rows.push_back(row);
    }
    std::sort(rows.begin(), rows.end(), [](const YieldRow& a, const YieldRow& b) {
        return a.figures.runs != b.figures.runs ? a.figures.runs > b.figures.runs : a.key < b.key;
    });
    summary.rows.insert(summary.rows.end(), rows.begin(), rows.end());
}

// Every bucket from the first to the last, the empty ones too.
void AddBuckets(const Groups& groups, YieldSummary& summary) {
    if (groups.buckets.empty()) {
        return;
    }
    const int64_t step = groups.hourly ? kMillisecondsPerHour : kMillisecondsPerDay;
    for (int64_t at = groups.buckets.begin()->first; at <= groups.buckets.rbegin()->first;
         at += step) {
        const auto found = groups.buckets.find(at);
        summary.buckets.push_back(
            {at, found != groups.buckets.end() ? found->second.figures : GroupFigures()});
    }
}

}  // namespace

const char* GroupKindName(GroupKind kind) {
    switch (kind) {
        case GroupKind::All:
            return "all";
        case GroupKind::Station:
            return "station";
        case GroupKind::Port:
            return "port";
        case GroupKind::Image:
            return "image";
        case GroupKind::Day:
            return "day";
        case GroupKind::Outcome:
            return "outcome";
    }
    return "";
}

YieldSummary Summarize(const YieldSet& set) {
    YieldSummary summary;
    summary.records = set.Facts().size();
    summary.duplicates = set.Duplicates();
    if (!set.Facts().empty()) {
        summary.first = set.Facts().front().started;
        summary.last = set.Facts().back().started;
    }
    const Groups groups = Fill(set, summary);
    summary.hourly = groups.hourly;
    summary.rows.push_back(Row(GroupKind::All, "", "", groups.all));
    AddStationRows(set, groups, summary);
    AddPortRows(set, groups, summary);
    AddImageRows(set, groups, summary);
    for (const auto& day : groups.days) {
        summary.rows.push_back(Row(GroupKind::Day, "", DayText(day.first), day.second));
    }
    AddOutcomeRows(set, summary);
    AddBuckets(groups, summary);
    return summary;
}

std::string TenthsText(uint64_t tenths) {
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

std::string PercentText(uint64_t part, uint64_t whole) {
    return whole == 0 ? std::string() : TenthsText((2000 * part + whole) / (2 * whole));
}

std::string SecondsText(const std::optional<int64_t>& milliseconds) {
    if (!milliseconds) {
        return std::string();
    }
    return FormatText("%lld.%03lld", static_cast<long long>(*milliseconds / 1000),
                      static_cast<long long>(*milliseconds % 1000));
}

std::string FileName(const std::string& path) {
    return path.substr(path.find_last_of("/\\") + 1);
}

std::string FlagReason(uint64_t streak, uint64_t runs, uint64_t passed, uint64_t otherRuns,
                       uint64_t otherPassed) {
    std::string reason;
    if (streak >= 3) {
        reason = std::to_string(streak) + " failures in a row";
    }
    // passed / runs <= otherPassed / otherRuns - 1/5, in whole numbers
    // (exact in a double up to 2^53).
    const double own = 5.0 * static_cast<double>(passed) * static_cast<double>(otherRuns);
    const double others = 5.0 * static_cast<double>(otherPassed) * static_cast<double>(runs);
    const double gap = static_cast<double>(runs) * static_cast<double>(otherRuns);
    if (runs >= 10 && otherRuns > 0 && own <= others - gap) {
        reason += (reason.empty() ? "" : ", ") + PercentText(passed, runs) + " % against " +
                  PercentText(otherPassed, otherRuns) + " %";
    }
    return reason;
}
