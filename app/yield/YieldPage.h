#pragma once
// The yield summary as one self-contained page of HTML (--html FILE): no
// file, font, script or style is fetched from anywhere, so it opens on a
// machine without a network. It says what set it covers (sources, time
// span, filters) and when it was made, draws five plots as inline SVG, and
// holds the CSV's figures in tables with the CSV's columns (a port's flag
// and an outcome's share in a column after them).
//
// Plots, each an <svg class="plot" data-plot="NAME"> whose drawn data have
// the class "mark":
//   timeline  runs (bars) and first-pass yield (line) per hour, or per day
//             for sets longer than two days
//   pareto    the failed runs by outcome, most first, with their cumulative
//             share
//   cycle     each station's cycle time: box 25th to 75th percentile,
//             whiskers 10th to 90th, line at the median
//   ports     each station's ports as a grid coloured by pass rate (red 0 %
//             to green 100 %), the flagged ones outlined and marked "!"
//   images    first- and last-pass yield per image

#include <string>
#include <vector>

#include "app/yield/YieldSummary.h"

struct YieldSetDescription {
    std::vector<std::string> sources;  // as shown (a password as ***)
    std::string filters;               // the filters' switches, or "none"
    std::string made;                  // when the page was made, UTC
    std::string version;               // the program's
};

std::string YieldPage(const YieldSummary& summary, const YieldSetDescription& set);
