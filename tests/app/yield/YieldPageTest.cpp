// The yield summary's page opened in a real headless Chromium (driven over
// its DevTools pipe): it asks for nothing over the network, its figures are
// the CSV's, every plot has drawn something, no script error is logged, and
// it says what set it covers. A screenshot of it is kept as the test's
// artifact (test-artifacts/yield-page.png, or in VANTOIR_TEST_ARTIFACTS).

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "tests/app/yield/YieldTestSupport.h"
#include "tests/support/Chromium.h"
#include "tests/support/Harness.h"
#include "tests/support/YieldRecords.h"

namespace {

using Json = nlohmann::json;

// Each row of the page's figures: the cells under the CSV's columns.
const char* const kFigureRows =
    "Array.from(document.querySelectorAll('table.figures tr'))"
    ".filter(row => row.querySelector('td'))"
    ".map(row => Array.from(row.querySelectorAll('td')).slice(0, 14).map(cell => "
    "cell.textContent))";
const char* const kFigureHeaders =
    "Array.from(document.querySelectorAll('table.figures tr:first-child'))"
    ".map(row => Array.from(row.querySelectorAll('th')).slice(0, 14).map(cell => "
    "cell.textContent).join(','))";
// Each plot, with its data marks that take room on the page.
const char* const kPlots =
    "Array.from(document.querySelectorAll('svg.plot')).map(svg => ({plot: svg.dataset.plot, "
    "shown: svg.getBoundingClientRect().width * svg.getBoundingClientRect().height, "
    "marks: Array.from(svg.querySelectorAll('.mark')).filter(mark => { const box = mark.getBBox(); "
    "return box.width > 0 || box.height > 0; }).length}))";

std::string Base64Decoded(const std::string& text) {
    std::string bytes;
    uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        const char* const digits =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        const char* at = std::strchr(digits, c);
        if (c == '=' || at == nullptr || c == '\0') {
            continue;
        }
        bits = bits << 6 | static_cast<uint32_t>(at - digits);
        count += 6;
        if (count >= 8) {
            count -= 8;
            bytes += static_cast<char>(bits >> count & 0xFF);
        }
    }
    return bytes;
}

// The example day's records (production guide, Yield at a glance), a file
// for each station, in one folder; the files' names.
std::vector<std::string> ExampleFiles(std::string& folder) {
    std::map<std::string, std::string> texts;
    harness::ExampleDay(
        [&](const std::string& station, const std::string& line) { texts[station] += line; });
    std::vector<std::string> names;
    for (const auto& text : texts) {
        names.push_back(text.first + ".jsonl");
        if (folder.empty()) {
            folder = std::filesystem::path(harness::WriteTempFile(text.second, names.back()))
                         .parent_path()
                         .string();
        } else {
            std::ofstream(folder + "/" + names.back(), std::ios::binary) << text.second;
        }
    }
    return names;
}

void KeepScreenshot(harness::Chromium& browser, const std::string& page) {
    const Json metrics = browser.Call("Page.getLayoutMetrics", Json::object(), page);
    const double width = metrics["cssContentSize"]["width"];
    const double height = metrics["cssContentSize"]["height"];
    const Json shot = browser.Call(
        "Page.captureScreenshot",
        {{"format", "png"},
         {"captureBeyondViewport", true},
         {"clip", {{"x", 0}, {"y", 0}, {"width", width}, {"height", height}, {"scale", 1}}}},
        page);
    const std::string png = Base64Decoded(shot["data"].get<std::string>());
    ASSERT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
    const char* folder = std::getenv("VANTOIR_TEST_ARTIFACTS");
    const std::filesystem::path artifacts = folder != nullptr ? folder : "test-artifacts";
    std::filesystem::create_directories(artifacts);
    std::ofstream(artifacts / "yield-page.png", std::ios::binary) << png;
}

}  // namespace

TEST(YieldPage, OpensInChromiumOfflineWithTheCsvsFiguresAndEveryPlotDrawn) {
    SKIP_UNDER_WINE("the page is opened by the native build's test");
    std::string why;
    if (harness::Chromium::Program(why).empty()) {
        const char* all = std::getenv("VANTOIR_REQUIRE_ALL");
        if (all != nullptr && std::string(all) == "1") {
            FAIL() << why;
        }
        GTEST_SKIP() << why;
    }
    std::string folder;
    const std::vector<std::string> files = ExampleFiles(folder);
    const std::string html = folder + "/day.html";
    const yield_test::Summary summary = yield_test::Yield(
        files, {"--since", "2026-12-09", "--until", "2026-12-10", "--html", "day.html"}, folder);
    ASSERT_EQ(summary.result.exitStatus, 0) << harness::Describe(summary.result);
    ASSERT_GT(summary.csv.size(), 20u);

    harness::Chromium browser;
    const std::string url = "file://" + html;
    const std::string page = browser.Open(url, 1200, 900);

    const Json rows = browser.Evaluate(page, kFigureRows);
    ASSERT_EQ(rows.size(), summary.csv.size() - 1);
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].get<std::vector<std::string>>(), summary.csv[i + 1]) << "row " << i;
    }
    for (const Json& header : browser.Evaluate(page, kFigureHeaders)) {
        EXPECT_EQ(header, summary.csvText.substr(0, summary.csvText.find("\r\n")));
    }

    std::vector<std::string> plots;
    for (const Json& plot : browser.Evaluate(page, kPlots)) {
        plots.push_back(plot["plot"]);
        EXPECT_GT(plot["marks"].get<int>(), 0) << plot.dump();
        EXPECT_GT(plot["shown"].get<double>(), 0) << plot.dump();
    }
    EXPECT_EQ(plots, (std::vector<std::string>{"timeline", "pareto", "cycle", "ports", "images"}));

    // What set it covers, and when it was made, from the page alone.
    const std::string text = browser.Evaluate(page, "document.body.innerText");
    for (const std::string& said :
         {files[0], files[1], std::string("2026-12-09 06:00:00 to 2026-12-09 2"),
          std::string("--since 2026-12-09 --until 2026-12-10"), std::string("Made"),
          std::string("flagged: ")}) {
        EXPECT_NE(text.find(said), std::string::npos) << said;
    }
    KeepScreenshot(browser, page);

    // Nothing asked of the network, nor of any file but the page itself
    // (whose request shows that requests are heard).
    size_t requests = 0;
    for (const Json& event : browser.Events()) {
        const std::string method = event["method"];
        if (method == "Network.requestWillBeSent") {
            EXPECT_EQ(event["params"]["request"]["url"], url) << event.dump();
            ++requests;
        }
        EXPECT_NE(method, "Runtime.exceptionThrown") << event.dump();
        if (method == "Log.entryAdded") {
            EXPECT_NE(event["params"]["entry"]["level"], "error") << event.dump();
        }
        if (method == "Runtime.consoleAPICalled") {
            EXPECT_NE(event["params"]["type"], "error") << event.dump();
        }
    }
    EXPECT_EQ(requests, 1u);
}
