#include "app/yield/YieldPage.h"

#include <algorithm>
#include <cmath>

#include "app/yield/YieldCsv.h"
#include "app/yield/YieldTime.h"
#include "errors/FormatText.h"

namespace {

constexpr double kPlotWidth = 760;
constexpr double kLeft = 56;  // room for the axes' labels
constexpr double kRight = 56;
constexpr double kTop = 16;
constexpr double kBottom = 44;

std::string Escaped(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

// A plot as inline SVG.
class SvgPlot {
  public:
    SvgPlot(const char* plotName, double plotHeight) : name(plotName), height(plotHeight) {}

    void Add(const std::string& element) { body += element + "\n"; }
    void Text(double x, double y, const std::string& text, const char* anchor = "middle") {
        Add(FormatText("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"%s\">%s</text>", x, y, anchor,
                       Escaped(text).c_str()));
    }
    void Line(double x1, double y1, double x2, double y2, const char* kind = "axis") {
        Add(FormatText("<line class=\"%s\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\"/>", kind,
                       x1, y1, x2, y2));
    }
    // A data rectangle with its tooltip.
    void Bar(double x, double y, double width, double barHeight, const char* kind,
             const std::string& tip) {
        Add(FormatText(
            "<rect class=\"mark %s\" x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" "
            "height=\"%.1f\"><title>%s</title></rect>",
            kind, x, y, std::max(width, 0.5), std::max(barHeight, 0.5), Escaped(tip).c_str()));
    }
    std::string Svg() const {
        return FormatText(
                   "<svg class=\"plot\" data-plot=\"%s\" viewBox=\"0 0 %.0f %.0f\" "
                   "width=\"%.0f\" height=\"%.0f\" role=\"img\">\n",
                   name, kPlotWidth, height, kPlotWidth, height) +
               body + "</svg>\n";
    }

  private:
    const char* name;
    double height;
    std::string body;
};

// A round number at or above value, for an axis.
double AxisTop(double value) {
    if (value <= 0) {
        return 1;
    }
    const double magnitude = std::pow(10.0, std::floor(std::log10(value)));
    for (double step : {1.0, 1.2, 1.5, 2.0, 2.5, 3.0, 4.0, 5.0, 6.0, 8.0, 10.0}) {
        if (step * magnitude >= value) {
            return step * magnitude;
        }
    }
    return 10 * magnitude;
}

double Percent(uint64_t part, uint64_t whole) {
    return whole == 0 ? 0.0 : 100.0 * static_cast<double>(part) / static_cast<double>(whole);
}

// The frame of a plot of height: its axes and the left axis' top label.
void Frame(SvgPlot& plot, double height, const std::string& leftTop, const std::string& rightTop) {
    const double bottom = height - kBottom;
    plot.Line(kLeft, kTop, kLeft, bottom);
    plot.Line(kLeft, bottom, kPlotWidth - kRight, bottom);
    plot.Text(kLeft - 6, kTop + 4, leftTop, "end");
    plot.Text(kLeft - 6, bottom, "0", "end");
    if (!rightTop.empty()) {
        plot.Line(kPlotWidth - kRight, kTop, kPlotWidth - kRight, bottom);
        plot.Text(kPlotWidth - kRight + 6, kTop + 4, rightTop, "start");
        plot.Text(kPlotWidth - kRight + 6, bottom, "0 %", "start");
    }
}

std::string BucketLabel(const YieldSummary& summary, int64_t start) {
    const std::string minute = MinuteText(start);
    return summary.hourly ? minute.substr(11, 5) : minute.substr(5, 5);
}

std::string TimelinePlot(const YieldSummary& summary) {
    const double height = 260;
    const double bottom = height - kBottom;
    const double inner = kPlotWidth - kLeft - kRight;
    uint64_t most = 0;
    for (const YieldBucket& bucket : summary.buckets) {
        most = std::max(most, bucket.figures.runs);
    }
    const double top = AxisTop(static_cast<double>(most));
    SvgPlot plot("timeline", height);
    Frame(plot, height, FormatText("%.0f runs", top), "100 %");
    const double step = inner / static_cast<double>(std::max<size_t>(summary.buckets.size(), 1));
    const size_t labelEvery = summary.buckets.size() / 12 + 1;
    std::string points;
    for (size_t i = 0; i < summary.buckets.size(); ++i) {
        const GroupFigures& figures = summary.buckets[i].figures;
        const double x = kLeft + step * static_cast<double>(i);
        const std::string label = BucketLabel(summary, summary.buckets[i].start);
        if (figures.runs > 0) {
            const double barHeight = (bottom - kTop) * static_cast<double>(figures.runs) / top;
            const std::string yield = PercentText(figures.firstPassed, figures.units);
            plot.Bar(x + step * 0.15, bottom - barHeight, step * 0.7, barHeight, "bar",
                     label + ": " + std::to_string(figures.runs) + " runs, FPY " + yield + " %");
            const double y =
                bottom - (bottom - kTop) * Percent(figures.firstPassed, figures.units) / 100;
            points += FormatText("%.1f,%.1f ", x + step / 2, y);
        }
        if (i % labelEvery == 0) {
            plot.Text(x + step / 2, bottom + 16, label);
        }
    }
    plot.Add("<polyline class=\"mark yield\" points=\"" + points + "\"/>");
    plot.Text(kPlotWidth / 2, height - 6,
              summary.hourly ? "hour (UTC): runs (bars), first-pass yield (line)"
                             : "day (UTC): runs (bars), first-pass yield (line)");
    return plot.Svg();
}

std::string ParetoPlot(const YieldSummary& summary) {
    std::vector<const YieldRow*> failures;
    uint64_t total = 0;
    for (const YieldRow& row : summary.rows) {
        if (row.kind == GroupKind::Outcome && row.shareTenths && row.key != "complete" &&
            row.key != "interrupted") {
            failures.push_back(&row);
            total += row.figures.runs;
        }
    }
    const double height = 260;
    const double bottom = height - kBottom;
    const double inner = kPlotWidth - kLeft - kRight;
    const double top =
        AxisTop(failures.empty() ? 1.0 : static_cast<double>(failures[0]->figures.runs));
    SvgPlot plot("pareto", height);
    Frame(plot, height, FormatText("%.0f runs", top), "100 %");
    const double step = inner / static_cast<double>(std::max<size_t>(failures.size(), 1));
    std::string points;
    uint64_t cumulative = 0;
    for (size_t i = 0; i < failures.size(); ++i) {
        const uint64_t runs = failures[i]->figures.runs;
        cumulative += runs;
        const double x = kLeft + step * static_cast<double>(i);
        const double barHeight = (bottom - kTop) * static_cast<double>(runs) / top;
        plot.Bar(x + step * 0.15, bottom - barHeight, step * 0.7, barHeight, "bar",
                 failures[i]->key + ": " + std::to_string(runs) + " failed runs");
        points += FormatText("%.1f,%.1f ", x + step / 2,
                             bottom - (bottom - kTop) * Percent(cumulative, total) / 100);
        plot.Text(x + step / 2, bottom + 16, failures[i]->key);
    }
    plot.Add("<polyline class=\"mark cumulative\" points=\"" + points + "\"/>");
    if (failures.empty()) {
        plot.Text(kPlotWidth / 2, height / 2, "no failed run");
    }
    plot.Text(kPlotWidth / 2, height - 6, "failed runs by outcome (bars), cumulative share (line)");
    return plot.Svg();
}

std::string CyclePlot(const YieldSummary& summary) {
    const double row = 30;
    const double height =
        kTop + row * static_cast<double>(std::max<size_t>(summary.cycles.size(), 1)) + kBottom;
    const double bottom = height - kBottom;
    const double inner = kPlotWidth - kLeft * 2 - kRight;
    int64_t most = 0;
    for (const CycleSpread& spread : summary.cycles) {
        most = std::max(most, spread.p90);
    }
    const double top = AxisTop(static_cast<double>(most) / 1000.0 * 1.1);
    const double left = kLeft * 2;  // the stations' names
    auto x = [&](int64_t milliseconds) {
        return left + inner * std::min(1.0, static_cast<double>(milliseconds) / 1000.0 / top);
    };
    SvgPlot plot("cycle", height);
    plot.Line(left, kTop, left, bottom);
    plot.Line(left, bottom, left + inner, bottom);
    plot.Text(left, bottom + 16, "0 s");
    plot.Text(left + inner, bottom + 16, FormatText("%g s", top));
    for (size_t i = 0; i < summary.cycles.size(); ++i) {
        const CycleSpread& spread = summary.cycles[i];
        const double middle = kTop + row * (static_cast<double>(i) + 0.5);
        const std::string name = spread.station.empty() ? "(none)" : spread.station;
        plot.Text(left - 6, middle + 4, name.substr(0, 14), "end");
        plot.Line(x(spread.p10), middle, x(spread.p90), middle, "mark whisker");
        plot.Bar(x(spread.p25), middle - row * 0.3, x(spread.p75) - x(spread.p25), row * 0.6, "box",
                 FormatText("%s: %llu runs; median %s s, 25-75 %% %s-%s s, 10-90 %% %s-%s s",
                            name.c_str(), static_cast<unsigned long long>(spread.runs),
                            SecondsText(spread.p50).c_str(), SecondsText(spread.p25).c_str(),
                            SecondsText(spread.p75).c_str(), SecondsText(spread.p10).c_str(),
                            SecondsText(spread.p90).c_str()));
        plot.Line(x(spread.p50), middle - row * 0.3, x(spread.p50), middle + row * 0.3,
                  "mark median");
    }
    plot.Text(kPlotWidth / 2, height - 6,
              "cycle time per station: box 25-75 %, whiskers 10-90 %, line at the median");
    return plot.Svg();
}

// Red (0 % passed) to green (100 %).
std::string RateColour(uint64_t passed, uint64_t runs) {
    if (runs == 0) {
        return "#bbbbbb";
    }
    return FormatText("hsl(%.0f,65%%,45%%)", 1.2 * Percent(passed, runs));
}

// The ports of each station, in the summary's order.
std::vector<std::vector<const YieldRow*>> PortsByStation(const YieldSummary& summary) {
    std::vector<std::vector<const YieldRow*>> stations;
    for (const YieldRow& row : summary.rows) {
        if (row.kind != GroupKind::Port) {
            continue;
        }
        if (stations.empty() || row.station != stations.back().front()->station) {
            stations.emplace_back();
        }
        stations.back().push_back(&row);
    }
    return stations;
}

void PortCell(SvgPlot& plot, const YieldRow& port, double x, double y) {
    constexpr double kCellWidth = 110;
    constexpr double kCellHeight = 40;
    const GroupFigures& figures = port.figures;
    const std::string rate = PercentText(figures.passed, figures.runs);
    const std::string shownRate = rate.empty() ? "-" : rate + " %";
    const std::string flag = port.flag.empty() ? "" : "; flagged: " + port.flag;
    plot.Add(FormatText(
        "<rect class=\"mark cell%s\" x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" "
        "fill=\"%s\"><title>%s: %llu runs, %s passed%s</title></rect>",
        port.flag.empty() ? "" : " flagged", x, y, kCellWidth, kCellHeight,
        RateColour(figures.passed, figures.runs).c_str(), Escaped(port.key).c_str(),
        static_cast<unsigned long long>(figures.runs), shownRate.c_str(), Escaped(flag).c_str()));
    plot.Text(x + kCellWidth / 2, y + 16, port.key.substr(0, 16));
    plot.Text(x + kCellWidth / 2, y + 32, (port.flag.empty() ? "" : "! ") + shownRate);
}

std::string PortsPlot(const YieldSummary& summary) {
    constexpr size_t kPerLine = 5;
    constexpr double kLine = 48;
    const std::vector<std::vector<const YieldRow*>> stations = PortsByStation(summary);
    size_t lines = 0;
    for (const auto& ports : stations) {
        lines += (ports.size() + kPerLine - 1) / kPerLine;
    }
    const double left = kLeft * 2;
    const double height = kTop + kLine * static_cast<double>(std::max<size_t>(lines, 1)) + 24;
    SvgPlot plot("ports", height);
    double y = kTop;
    for (const auto& ports : stations) {
        const std::string& station = ports.front()->station;
        plot.Text(left - 6, y + 24, (station.empty() ? "(none)" : station).substr(0, 14), "end");
        for (size_t p = 0; p < ports.size(); ++p) {
            PortCell(plot, *ports[p], left + 116 * static_cast<double>(p % kPerLine),
                     y + kLine * static_cast<double>(p / kPerLine));
        }
        y += kLine * static_cast<double>((ports.size() + kPerLine - 1) / kPerLine);
    }
    plot.Text(kPlotWidth / 2, height - 6,
              "ports by pass rate (red 0 %, green 100 %); flagged ones outlined and marked !");
    return plot.Svg();
}

std::string ImagesPlot(const YieldSummary& summary) {
    std::vector<const YieldRow*> images;
    for (const YieldRow& row : summary.rows) {
        if (row.kind == GroupKind::Image) {
            images.push_back(&row);
        }
    }
    const double height = 240;
    const double bottom = height - kBottom;
    const double inner = kPlotWidth - kLeft - kRight;
    SvgPlot plot("images", height);
    Frame(plot, height, "100 %", "");
    const double step = inner / static_cast<double>(std::max<size_t>(images.size(), 1));
    for (size_t i = 0; i < images.size(); ++i) {
        const GroupFigures& figures = images[i]->figures;
        const double x = kLeft + step * static_cast<double>(i);
        const std::string name = images[i]->key.substr(0, 12);
        const double first = (bottom - kTop) * Percent(figures.firstPassed, figures.units) / 100;
        const double last = (bottom - kTop) * Percent(figures.lastPassed, figures.units) / 100;
        plot.Bar(
            x + step * 0.15, bottom - first, step * 0.33, first, "first",
            name + ": first-pass yield " + PercentText(figures.firstPassed, figures.units) + " %");
        plot.Bar(
            x + step * 0.52, bottom - last, step * 0.33, last, "last",
            name + ": last-pass yield " + PercentText(figures.lastPassed, figures.units) + " %");
        plot.Text(x + step / 2, bottom + 16, name + " " + FileName(images[i]->file).substr(0, 24));
    }
    plot.Text(kPlotWidth / 2, height - 6, "yield per image: first pass (dark), last pass (light)");
    return plot.Svg();
}

// A table of the CSV's figures for one kind of group, with the CSV's
// columns and, for ports and outcomes, one more.
std::string FiguresTable(const YieldSummary& summary, GroupKind kind, const char* title) {
    std::string header = kYieldCsvHeader;
    std::string table = FormatText("<h3>%s</h3>\n<table class=\"figures\" data-group=\"%s\">\n<tr>",
                                   title, GroupKindName(kind));
    for (size_t start = 0; start <= header.size();) {
        const size_t comma = std::min(header.find(',', start), header.size());
        table += "<th>" + header.substr(start, comma - start) + "</th>";
        start = comma + 1;
    }
    const char* extra = kind == GroupKind::Port      ? "flag"
                        : kind == GroupKind::Outcome ? "share %"
                                                     : "";
    table += *extra != '\0' ? FormatText("<th class=\"extra\">%s</th>", extra) : "";
    table += "</tr>\n";
    for (const YieldRow& row : summary.rows) {
        if (row.kind != kind) {
            continue;
        }
        table += row.flag.empty() ? "<tr>" : "<tr class=\"flagged\">";
        for (const std::string& field : CsvFields(row)) {
            table += "<td>" + Escaped(field) + "</td>";
        }
        if (kind == GroupKind::Port) {
            table += "<td class=\"extra\">" +
                     (row.flag.empty() ? "" : "flagged: " + Escaped(row.flag)) + "</td>";
        } else if (kind == GroupKind::Outcome) {
            table += "<td class=\"extra\">" +
                     (row.shareTenths ? TenthsText(*row.shareTenths) : "") + "</td>";
        }
        table += "</tr>\n";
    }
    return table + "</table>\n";
}

constexpr const char* kStyle =
    "body{font-family:sans-serif;margin:24px;color:#222}"
    "h1{font-size:1.5em}h2{font-size:1.2em;margin-top:1.6em}h3{font-size:1em}"
    "dl.set{display:grid;grid-template-columns:max-content auto;gap:2px 12px}dt{font-weight:bold}"
    "dd{margin:0}figure{margin:12px 0}figcaption{font-size:.9em;color:#555}"
    "svg.plot{font-size:11px;background:#fafafa;border:1px solid #ddd}"
    ".axis{stroke:#555;stroke-width:1}.bar{fill:#4a7ab5}.first{fill:#2d5a8a}.last{fill:#8fb4dd}"
    ".box{fill:#8fb4dd;stroke:#2d5a8a}.whisker{stroke:#2d5a8a;stroke-width:2}"
    ".median{stroke:#111;stroke-width:3}.yield,.cumulative{fill:none;stroke:#d2691e;stroke-width:2}"
    ".cell{stroke:#fff;stroke-width:1}.cell.flagged{stroke:#000;stroke-width:4}"
    "table.figures{border-collapse:collapse;font-size:.8em;margin-bottom:8px}"
    "table.figures td,table.figures th{border:1px solid #ccc;padding:2px 5px;text-align:right;"
    "white-space:nowrap}"
    "tr.flagged td{background:#fde2e2}";

std::string SetDescription(const YieldSummary& summary, const YieldSetDescription& set) {
    std::string sources;
    for (const std::string& source : set.sources) {
        sources += (sources.empty() ? "" : ", ") + Escaped(source);
    }
    const std::string span = summary.records == 0 ? std::string("no record")
                                                  : SecondText(summary.first) + " to " +
                                                        SecondText(summary.last) + " UTC";
    return "<dl class=\"set\">\n<dt>Sources</dt><dd>" + sources + "</dd>\n<dt>Time span</dt><dd>" +
           span + "</dd>\n<dt>Filters</dt><dd>" + Escaped(set.filters) +
           "</dd>\n<dt>Records</dt><dd>" + std::to_string(summary.records) + " downloads (" +
           std::to_string(summary.duplicates) +
           " found twice, counted once)</dd>\n<dt>Made</dt><dd>" + Escaped(set.made) +
           " by Vantoir " + Escaped(set.version) + "</dd>\n</dl>\n";
}

std::string Figure(const std::string& svg, const char* caption) {
    return "<figure>\n" + svg + FormatText("<figcaption>%s</figcaption>\n</figure>\n", caption);
}

}  // namespace

std::string YieldPage(const YieldSummary& summary, const YieldSetDescription& set) {
    std::string page =
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<title>Yield at a glance</title>\n<style>" +
        std::string(kStyle) + "</style>\n</head>\n<body>\n<h1>Yield at a glance</h1>\n" +
        SetDescription(summary, set);
    if (summary.records == 0) {
        page += "<p>The set holds no record of a download.</p>\n";
    }
    page += "<h2>Plots</h2>\n";
    page += Figure(TimelinePlot(summary),
                   summary.hourly ? "Yield and runs per hour" : "Yield and runs per day");
    page += Figure(ParetoPlot(summary), "Failures by outcome");
    page += Figure(CyclePlot(summary), "Cycle time per station");
    page += Figure(PortsPlot(summary), "Ports of each station by pass rate");
    page += Figure(ImagesPlot(summary), "Yield per image");
    page += "<h2>Figures</h2>\n";
    page += FiguresTable(summary, GroupKind::All, "Whole set");
    page += FiguresTable(summary, GroupKind::Station, "Stations");
    page += FiguresTable(summary, GroupKind::Port, "Ports");
    page += FiguresTable(summary, GroupKind::Image, "Images");
    page += FiguresTable(summary, GroupKind::Day, "Days (UTC)");
    page += FiguresTable(summary, GroupKind::Outcome, "Outcomes");
    page +=
        "<p>first_pass_yield, last_pass_yield: % of the units whose first, and last, counted run "
        "passed; p50_seconds, p90_seconds: cycle time; longest_failure_streak: failed runs in a "
        "row; share: % of the counted and aborted runs.</p>\n</body>\n</html>\n";
    return page;
}
