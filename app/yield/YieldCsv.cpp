#include "app/yield/YieldCsv.h"

namespace {

std::string Count(uint64_t value) {
    return std::to_string(value);
}

}  // namespace

std::vector<std::string> CsvFields(const YieldRow& row) {
    const bool hasStation = row.kind == GroupKind::Station || row.kind == GroupKind::Port;
    const bool hasKey = row.kind != GroupKind::All && row.kind != GroupKind::Station;
    std::vector<std::string> fields = {GroupKindName(row.kind), hasStation ? row.station : "",
                                       hasKey ? row.key : ""};
    const GroupFigures& figures = row.figures;
    if (row.kind == GroupKind::Outcome) {
        fields.push_back(Count(figures.runs));
        fields.resize(14);
        return fields;
    }
    for (std::string field :
         {Count(figures.runs), Count(figures.units), Count(figures.passed), Count(figures.failed),
          Count(figures.aborted), Count(figures.noBoard),
          PercentText(figures.firstPassed, figures.units),
          PercentText(figures.lastPassed, figures.units), SecondsText(figures.p50),
          SecondsText(figures.p90),
          row.kind == GroupKind::Port ? Count(figures.longestStreak) : std::string()}) {
        fields.push_back(std::move(field));
    }
    return fields;
}

std::string CsvQuoted(const std::string& field) {
    if (field.find_first_of(",\"\r\n") == std::string::npos) {
        return field;
    }
    std::string quoted = "\"";
    for (char c : field) {
        quoted += c == '"' ? "\"\"" : std::string(1, c);
    }
    return quoted + "\"";
}

std::string YieldCsv(const YieldSummary& summary) {
    std::string text = std::string(kYieldCsvHeader) + "\r\n";
    for (const YieldRow& row : summary.rows) {
        const std::vector<std::string> fields = CsvFields(row);
        for (size_t i = 0; i < fields.size(); ++i) {
            text += (i > 0 ? "," : "") + CsvQuoted(fields[i]);
        }
        text += "\r\n";
    }
    return text;
}
