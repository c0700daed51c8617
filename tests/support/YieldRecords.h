#pragma once
// Made-up record files for the yield summary's page test, its worked
// example and its benchmark: lines as --report writes them (every key, in
// its order, a record_id each), from a seeded generator, so that the same
// call makes the same bytes on every machine.
//
//   ExampleDay: a day (06:00 to 22:00 UTC) of a line of two stations,
//     "line3-a" and "line3-b", four ports each; every board labelled, a
//     failed one tried again (up to twice) at another port of its station;
//     one worn socket (line3-b's /dev/ttyUSB2) that fails nearly half its
//     boards; image 2.4.0 until 14:00, then 2.4.1; a few boards that never
//     answered, aborted runs and one image refused.
//   BenchRecords: count records over 30 days from 2026-11-01, of 20
//     stations of 4 ports each, 50,000 labelled units and 3 images.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <random>
#include <string>

#include "app/yield/YieldTime.h"

namespace harness {

struct MadeRecord {
    std::string station;
    std::string port;
    std::string label;
    std::string outcome;
    int64_t started = 0;  // ms since 1970
    double seconds = 0;
    bool board = true;
    int image = 0;
};

// 2026-12-09T00:00:00Z and 2026-11-01T00:00:00Z in ms.
inline constexpr int64_t kExampleDay = 1796774400000;
inline constexpr int64_t kBenchStart = 1793491200000;

inline const char* const kImageNames[] = {"app-2.4.0.hex", "app-2.4.1.hex", "app-2.5.0.hex"};
inline const char* const kImageDigests[] = {
    "830bd85ac0ea42a9eb6d47d65c2cad22a30ed74ebe61a34415c6dbeae84f8bf7",
    "4c1f0b96e2a8d35e7a0f1c9b22d6e4a1b8c37f5d9e20a6b14c83d7e5f9a0b2c6",
    "e7d2a91c40b6f83e25c9a1d07f4b6e38c2a95d1f7e0b4c86a3d29f5e1b7c0a48"};

// The record's line, its line end included.
inline std::string MadeRecordLine(const MadeRecord& made, std::mt19937_64& random) {
    const uint64_t high = random();
    const uint64_t low = random();
    char id[40];
    std::snprintf(id, sizeof id, "%08llx-%04llx-4%03llx-%04llx-%012llx",
                  static_cast<unsigned long long>(high >> 32),
                  static_cast<unsigned long long>(high >> 16 & 0xFFFF),
                  static_cast<unsigned long long>(high & 0xFFF),
                  static_cast<unsigned long long>((low >> 48 & 0x3FFF) | 0x8000),
                  static_cast<unsigned long long>(low & 0xFFFFFFFFFFFF));
    auto time = [](int64_t ms) {
        const int64_t of = ms % 86400000;
        char text[32];
        std::snprintf(text, sizeof text, "T%02lld:%02lld:%02lld.%03lldZ",
                      static_cast<long long>(of / 3600000), static_cast<long long>(of / 60000 % 60),
                      static_cast<long long>(of / 1000 % 60), static_cast<long long>(of % 1000));
        return DayText(DayOf(ms)) + text;
    };
    const bool complete = made.outcome == "complete";
    const int64_t ms = static_cast<int64_t>(made.seconds * 1000 + 0.5);
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%lld.%03lld", static_cast<long long>(ms / 1000),
                  static_cast<long long>(ms % 1000));
    std::string line =
        "{\"version\":\"1.3\",\"started\":\"" + time(made.started) + "\",\"ended\":\"" +
        time(made.started + ms) + "\",\"mode\":\"download\",\"port\":\"" + made.port +
        "\",\"device\":\"" + made.port +
        "\",\"usb\":{\"id\":\"0403:6001\",\"serial\":null},\"baud\":115200," +
        "\"file\":\"/srv/images/" + kImageNames[made.image] +
        "\",\"file_bytes\":14048,\"file_sha256\":\"" + kImageDigests[made.image] +
        "\",\"board\":" + (made.board ? "\"KELVOR DSP boot loader 2.4\"" : "null") +
        ",\"board_messages\":[\"Programming flash: 33%\",\"Programming flash: "
        "66%\",\"Programming flash: 100%\"],\"board_messages_omitted\":0,"
        "\"records_sent\":320,\"records_confirmed\":" +
        (made.board ? "320" : "null") + ",\"flash\":\"" +
        (complete ? "acknowledged" : "not-acknowledged") +
        "\",\"start_sent\":" + (complete ? "true" : "false") + ",\"timeout\":60,\"outcome\":\"" +
        made.outcome +
        "\",\"error\":" + (complete ? "null" : "\"Error: the run ended as " + made.outcome + "\"") +
        ",\"findings\":[],\"exit_status\":" + (complete ? "0" : "1") +
        ",\"signal\":" + (made.outcome == "interrupted" ? "\"SIGINT\"" : "null") +
        ",\"seconds\":" + seconds +
        ",\"phases\":{\"waiting\":0.501,\"upload\":0.05,\"count\":0.05,\"flash\":0.451}"
        ",\"board_number\":null,\"run_id\":\"" +
        made.station + "-" + std::to_string(made.started / 1000) + "\",\"record_id\":\"" + id +
        "\",\"station\":\"" + made.station +
        "\",\"label\":" + (made.label.empty() ? "null" : "\"" + made.label + "\"") + "}\n";
    return line;
}

// A number from 0 to below count.
inline uint64_t Below(std::mt19937_64& random, uint64_t count) {
    return random() % count;
}

// A failure's outcome, as a line sees them.
inline const char* FailureOutcome(std::mt19937_64& random) {
    const uint64_t pick = Below(random, 10);
    return pick < 4   ? "count-mismatch"
           : pick < 7 ? "timeout"
           : pick < 9 ? "flash-not-acknowledged"
                      : "port-error";
}

// Calls take(line) with each record of the example day, in the order each
// station wrote them (station is "line3-a" or "line3-b").
inline void ExampleDay(
    const std::function<void(const std::string& station, const std::string& line)>& take) {
    std::mt19937_64 random(20261208);
    for (int s = 0; s < 2; ++s) {
        const std::string station = s == 0 ? "line3-a" : "line3-b";
        const double cycle = s == 0 ? 38.0 : 44.0;
        int64_t at = kExampleDay + 6 * 3600000 + s * 7000;
        int unit = s * 10000;
        bool refusedOnce = false;
        for (; at < kExampleDay + 22 * 3600000; ++unit) {
            MadeRecord made;
            made.station = station;
            char label[16];
            std::snprintf(label, sizeof label, "SN%06d", 240000 + unit);
            made.label = label;
            made.image = at < kExampleDay + 14 * 3600000 ? 0 : 1;
            int port = static_cast<int>(Below(random, 4));
            for (int attempt = 0; attempt < 3; ++attempt) {
                made.port = "/dev/ttyUSB" + std::to_string(port);
                made.started = at;
                const bool worn = s == 1 && port == 2;
                const bool failed = Below(random, 1000) < (worn ? 450u : 40u);
                made.outcome = failed ? FailureOutcome(random) : "complete";
                made.board = made.outcome != std::string("timeout") || Below(random, 2) == 0;
                made.seconds = made.outcome == std::string("timeout")
                                   ? 60.0
                                   : cycle - 3 + static_cast<double>(Below(random, 6000)) / 1000.0;
                take(station, MadeRecordLine(made, random));
                at += static_cast<int64_t>(made.seconds * 1000) + 20000 +
                      static_cast<int64_t>(Below(random, 40000));
                if (!failed) {
                    break;
                }
                port = (port + 1 + static_cast<int>(Below(random, 3))) % 4;
            }
            if (Below(random, 100) < 2) {  // an empty socket: nobody answered
                MadeRecord empty = made;
                empty.label.clear();
                empty.board = false;
                empty.outcome = "timeout";
                empty.seconds = 60.0;
                empty.started = at;
                take(station, MadeRecordLine(empty, random));
                at += 80000;
            }
            if (s == 0 && made.image == 1 && !refusedOnce) {  // a wrong file, refused
                refusedOnce = true;
                MadeRecord refused = made;
                refused.label.clear();
                refused.board = false;
                refused.outcome = "image-refused";
                refused.seconds = 0.02;
                refused.image = 2;
                refused.started = at;
                take(station, MadeRecordLine(refused, random));
                at += 60000;
            }
            if (Below(random, 200) == 0) {  // the operator stopped a run
                MadeRecord stopped = made;
                stopped.outcome = "interrupted";
                stopped.seconds = 12.5;
                stopped.started = at;
                take(station, MadeRecordLine(stopped, random));
                at += 30000;
            }
        }
    }
}

// Calls take(line) with count records of the benchmark's set, in time
// order.
inline void BenchRecords(uint64_t count, const std::function<void(const std::string& line)>& take) {
    std::mt19937_64 random(1000000);
    const int64_t span = 30LL * 86400000;
    for (uint64_t i = 0; i < count; ++i) {
        MadeRecord made;
        const uint64_t station = Below(random, 20);
        const uint64_t port = Below(random, 4);
        char name[16];
        std::snprintf(name, sizeof name, "st%02llu", static_cast<unsigned long long>(station + 1));
        made.station = name;
        made.port = "/dev/ttyUSB" + std::to_string(port);
        std::snprintf(name, sizeof name, "SN%07llu",
                      static_cast<unsigned long long>(Below(random, 50000)));
        made.label = name;
        made.started =
            kBenchStart + static_cast<int64_t>(static_cast<double>(span) * static_cast<double>(i) /
                                               static_cast<double>(count));
        made.image = static_cast<int>(i * 3 / count);
        const bool worn = station == 6 && port == 1;
        const uint64_t roll = Below(random, 1000);
        made.outcome = roll < (worn ? 400u : 50u) ? FailureOutcome(random)
                       : roll < 995               ? "complete"
                                                  : "interrupted";
        made.board = made.outcome != std::string("timeout") || Below(random, 4) != 0;
        made.seconds = 30.0 + static_cast<double>(station) +
                       static_cast<double>(Below(random, 10000)) / 1000.0;
        take(MadeRecordLine(made, random));
    }
}

}  // namespace harness
