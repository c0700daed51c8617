#include "app/yield/Yield.h"

#include <chrono>
#include <cstdio>
#include <string>

#include "app/yield/YieldCsv.h"
#include "app/yield/YieldMessages.h"
#include "app/yield/YieldPage.h"
#include "app/yield/YieldSet.h"
#include "app/yield/YieldSources.h"
#include "app/yield/YieldSummary.h"
#include "app/yield/YieldTable.h"
#include "app/yield/YieldTime.h"
#include "errors/FatalError.h"
#include "errors/Version.h"
#include "text/Shown.h"

namespace {

// The stations of --station NAME[,NAME...].
std::set<std::string> StationNames(const char* list) {
    std::set<std::string> names;
    if (list == nullptr) {
        return names;
    }
    const std::string text = list;
    for (size_t start = 0; start <= text.size();) {
        const size_t comma = std::min(text.find(',', start), text.size());
        names.insert(text.substr(start, comma - start));
        start = comma + 1;
    }
    return names;
}

YieldFilters FiltersOf(const Settings& settings) {
    YieldFilters filters;
    if (settings.since != nullptr) {
        filters.since = FilterTime(settings.since);
    }
    if (settings.until != nullptr) {
        filters.until = FilterTime(settings.until);
    }
    filters.stations = StationNames(settings.station);
    return filters;
}

// The filters as switches, or "none".
std::string FiltersText(const Settings& settings) {
    std::string text;
    const std::pair<const char*, const char*> given[] = {
        {"--since", settings.since}, {"--until", settings.until}, {"--station", settings.station}};
    for (const auto& filter : given) {
        if (filter.second != nullptr) {
            text += (text.empty() ? "" : " ") + std::string(filter.first) + " " + filter.second;
        }
    }
    return text.empty() ? "none" : text;
}

std::vector<std::string> ShownSources(const Settings& settings) {
    std::vector<std::string> shown;
    for (const std::string& source : settings.yieldSources) {
        shown.push_back(ShownSource(source));
    }
    return shown;
}

void ShowSet(const Settings& settings, const YieldSummary& summary) {
    std::string sources;
    for (const std::string& source : ShownSources(settings)) {
        sources += (sources.empty() ? "" : ", ") + source;
    }
    ShowFormatted(messages::kSourcesFormat, sources.c_str());
    ShowFormatted(messages::kFiltersFormat, FiltersText(settings).c_str());
    if (summary.records == 0) {
        Show(messages::kEmptySet);
        return;
    }
    const std::string duplicates =
        summary.duplicates == 0 ? std::string()
                                : FormatText(messages::kDuplicatesFormat,
                                             static_cast<unsigned long long>(summary.duplicates));
    ShowFormatted(messages::kSpanFormat, static_cast<unsigned long long>(summary.records),
                  SecondText(summary.first).c_str(), SecondText(summary.last).c_str(),
                  duplicates.c_str());
}

std::string Now() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return SecondText(std::chrono::duration_cast<std::chrono::milliseconds>(now).count()) + " UTC";
}

// Writes text as the whole of path; false when it did not take it.
bool WriteWhole(const char* path, const std::string& text) {
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && written;
}

int WriteFiles(const Settings& settings, const YieldSummary& summary) {
    int status = 0;
    if (settings.csvFile != nullptr && !WriteWhole(settings.csvFile, YieldCsv(summary))) {
        std::fprintf(stderr, messages::kCannotWriteFormat, settings.csvFile);
        status = 1;
    }
    if (settings.htmlFile != nullptr) {
        const YieldSetDescription set = {ShownSources(settings), FiltersText(settings), Now(),
                                         version::kVersion};
        if (!WriteWhole(settings.htmlFile, YieldPage(summary, set))) {
            std::fprintf(stderr, messages::kCannotWriteFormat, settings.htmlFile);
            status = 1;
        }
    }
    return status;
}

}  // namespace

int RunYield(const Settings& settings) {
    const YieldFilters filters = FiltersOf(settings);
    YieldSet set(filters);
    SkippedRecords skipped;
    for (const std::string& source : settings.yieldSources) {
        if (IsDatabaseSource(source)) {
            ReadRecordDatabase(source, filters, set, skipped);
        } else {
            ReadRecordFile(source, set, skipped);
        }
    }
    skipped.End();
    set.Finish();
    const YieldSummary summary = Summarize(set);
    ShowSet(settings, summary);
    if (summary.records != 0) {
        ShowYieldTables(summary);
    }
    FlushShown();
    return WriteFiles(settings, summary);
}
