#pragma once
// YieldSet: the records a yield summary counts, taken one at a time from
// every source and kept as a few bytes each (RunFact), never as their text:
// the names they share (stations, ports, images, labels, outcomes) are kept
// once. Records of other modes and those the filters leave out are dropped
// as they come; a record taken twice (the same id, from two sources) counts
// once, once Finish has run.
//
// What each record is:
//   Untouched  outcome image-ok, image-refused, image-changed, file-error or
//              no-label: never touched a board; in the outcome table only
//   Aborted    outcome interrupted: an aborted run, never in a yield
//   NoBoard    board null and no label: never heard from a board
//   Counted    any other: a run of its unit, passed when complete
// A counted run's unit is its label (a non-empty text); without one the run
// is a unit of its own.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

enum class RunKind : uint8_t { Counted, Aborted, NoBoard, Untouched };

inline constexpr uint32_t kNoIndex = UINT32_MAX;

struct RunFact {
    uint64_t idHigh = 0;  // the record's id, 128 bits
    uint64_t idLow = 0;
    int64_t started = 0;       // ms since 1970 (app/yield/YieldTime.h)
    int64_t seconds = 0;       // the run's length in ms
    uint32_t sequence = 0;     // the order it was read in
    uint32_t unit = kNoIndex;  // the label's index; kNoIndex: a unit of its own
    uint32_t station = 0;
    uint32_t port = 0;  // a port of a station (YieldSet::Port)
    uint32_t image = kNoIndex;
    uint16_t outcome = 0;
    RunKind kind = RunKind::Counted;
    bool passed = false;
};

// The filters of --since, --until and --station.
struct YieldFilters {
    std::optional<int64_t> since;    // inclusive
    std::optional<int64_t> until;    // exclusive
    std::set<std::string> stations;  // empty: every station
};

// Names kept once, each with its index.
class NameIndex {
  public:
    uint32_t Of(const std::string& name);
    const std::string& Name(uint32_t index) const { return names[index]; }
    size_t Size() const { return names.size(); }

  private:
    std::unordered_map<std::string, uint32_t> indexes;
    std::vector<std::string> names;
};

class YieldSet {
  public:
    struct Port {
        uint32_t station;
        std::string name;
    };
    struct Image {
        std::string sha256;
        std::string file;  // the file name of its latest record
        int64_t fileStarted = INT64_MIN;
    };

    explicit YieldSet(YieldFilters filters);

    // The keys of a record that the set reads (for RecordFile).
    static std::set<std::string> Keys();

    // Takes a record, a JSON object with its id (a UUID). The empty text
    // when it is a record (counted or left out by its mode or the filters),
    // else why it is none ("no seconds", ...).
    std::string Add(const nlohmann::json& record, const std::string& id);
    // Drops the duplicates and puts the facts in the order they started
    // (then read).
    void Finish();

    const std::vector<RunFact>& Facts() const { return facts; }
    uint64_t Duplicates() const { return duplicates; }
    const NameIndex& Stations() const { return stations; }
    const std::vector<Port>& Ports() const { return ports; }
    const std::vector<Image>& Images() const { return images; }
    const NameIndex& Outcomes() const { return outcomes; }

  private:
    bool Keeps(const std::string& station, int64_t started) const;
    uint32_t PortOf(uint32_t station, const std::string& name);
    uint32_t ImageOf(const nlohmann::json& record, int64_t started);

    YieldFilters filters;
    std::vector<RunFact> facts;
    uint64_t duplicates = 0;
    NameIndex stations;
    NameIndex labels;
    NameIndex outcomes;
    std::vector<std::unordered_map<std::string, uint32_t>> portIndexes;  // by station
    std::vector<Port> ports;
    std::unordered_map<std::string, uint32_t> imageIndexes;
    std::vector<Image> images;
};

// Whether an outcome is of a record that never touched a board.
bool IsUntouchedOutcome(const std::string& outcome);
