#include "app/stamp/StampPlan.h"

#include <fstream>
#include <map>

#include "app/stamp/StampMessages.h"
#include "errors/FatalError.h"
#include "text/DatabaseAddress.h"
#include "text/RecordStamp.h"

namespace {

StampValue ValueOf(const StampFormat& format, const char* switchText, const char* text) {
    StampValue value;
    std::string why;
    if (!ParseStampValue(format, text, value, why)) {
        FatalError(messages::kInvalidStampFormat, switchText, text, why.c_str());
    }
    return value;
}

uint64_t StepOf(const char* text) {
    StampValue value;
    std::string why;
    StampFormat u64{StampKind::U64LE, 8};
    if (!ParseStampValue(u64, text, value, why) || value.Number() == 0) {
        FatalError(messages::kInvalidStampFormat, "--stamp-step", text, "a whole number from 1");
    }
    return value.Number();
}

std::vector<StampValue> ReadList(const char* path, const StampFormat& format) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        FatalError(messages::kCannotOpenStampFileFormat, path);
    }
    std::vector<StampValue> values;
    std::map<std::vector<uint8_t>, long long> seen;
    std::string line;
    for (long long number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty()) {
            continue;
        }
        StampValue value;
        std::string why;
        if (!ParseStampValue(format, line.c_str(), value, why)) {
            FatalError(messages::kListLineFormat, path, number, why.c_str());
        }
        const auto earlier = seen.emplace(value.counter, number);
        if (!earlier.second) {
            FatalError(messages::kListValueTwiceFormat, path, number, line.c_str(),
                       earlier.first->second);
        }
        values.push_back(value);
    }
    if (values.empty()) {
        FatalError(messages::kListEmptyFormat, path);
    }
    return values;
}

void CheckSwitchesAlone(const Settings& settings) {
    const std::pair<const char*, const char*> switches[] = {
        {"--stamp-ledger", settings.stampLedger}, {"--stamp-start", settings.stampStart},
        {"--stamp-step", settings.stampStep},     {"--stamp-last", settings.stampLast},
        {"--stamp-list", settings.stampList},
    };
    for (const auto& given : switches) {
        if (given.second != nullptr) {
            FatalError(messages::kStampSwitchNeedsStampFormat, given.first);
        }
    }
    if (settings.stampOverwrite) {
        FatalError(messages::kStampSwitchNeedsStampFormat, "--stamp-overwrite");
    }
}

}  // namespace

void LedgerValues::Take(const StampValue& value) {
    if (!largest || *largest < value) {
        largest = value;
    }
    named.insert(value.counter);
}

std::optional<StampPlan> ReadStampPlan(const Settings& settings) {
    if (settings.stamp == nullptr) {
        CheckSwitchesAlone(settings);
        return std::nullopt;
    }
    StampPlan plan;
    plan.spec.wordBytes = settings.wordBytes;
    plan.overwrite = settings.stampOverwrite;
    std::string why;
    if (!ParseStampSpec(settings.stamp, plan.spec, why)) {
        FatalError(messages::kInvalidStampFormat, "--stamp", settings.stamp, why.c_str());
    }
    if (settings.mode != ModeDownload) {
        FatalError("%s", messages::kStampDownloadOnly);
    }
    if (settings.stampLedger == nullptr) {
        FatalError("%s", messages::kStampNeedsLedger);
    }
    plan.ledger = settings.stampLedger;
    const StampFormat& format = plan.spec.format;
    if (settings.stampList != nullptr) {
        for (const char* counterSwitch :
             {settings.stampStart, settings.stampStep, settings.stampLast}) {
            if (counterSwitch != nullptr) {
                FatalError(messages::kStampListAndCounterFormat,
                           counterSwitch == settings.stampStart  ? "--stamp-start"
                           : counterSwitch == settings.stampStep ? "--stamp-step"
                                                                 : "--stamp-last");
            }
        }
        plan.listPath = settings.stampList;
        plan.list = ReadList(settings.stampList, format);
        return plan;
    }
    if (settings.stampStart != nullptr) {
        plan.start = ValueOf(format, "--stamp-start", settings.stampStart);
    } else {
        plan.start.counter.assign(format.CounterBytes(), 0);
        plan.start.counter.back() = 1;
    }
    if (settings.stampStep != nullptr) {
        plan.step = StepOf(settings.stampStep);
    }
    if (settings.stampLast != nullptr) {
        plan.last = ValueOf(format, "--stamp-last", settings.stampLast);
    }
    return plan;
}

bool NextStampValue(const StampPlan& plan, const LedgerValues& held, StampValue& next,
                    std::string& why) {
    const StampFormat& format = plan.spec.format;
    if (!plan.listPath.empty()) {
        for (const StampValue& value : plan.list) {
            if (held.named.count(value.counter) == 0) {
                next = value;
                return true;
            }
        }
        why = FormatText(messages::kListUsedUpFormat, plan.listPath.c_str());
        return false;
    }
    next = plan.start;
    StampValue after;
    if (held.largest && !(*held.largest < plan.start)) {
        if (!StampValueAdd(format, *held.largest, plan.step, after)) {
            why = FormatText(messages::kCounterAtEndFormat, plan.ledger.c_str(),
                             format.Name().c_str());
            return false;
        }
        next = after.counter < plan.start.counter ? plan.start : after;
    }
    if (plan.last && *plan.last < next) {
        why = FormatText(messages::kCounterPastLastFormat, plan.ledger.c_str(),
                         StampValueText(format, next).c_str(),
                         StampValueText(format, *plan.last).c_str());
        return false;
    }
    return true;
}

std::vector<ImageFinding> CheckStampImage(const char* dataFile, const StampPlan& plan) {
    const StampCoverage coverage = CheckStampCoverage(dataFile, plan.spec);
    if (!coverage.opened) {
        FatalError(messages::kCannotOpenStampFileFormat, dataFile);
    }
    if (coverage.uncoveredCount != 0) {
        FatalError(messages::kNothingToStampFormat, dataFile, plan.spec.address,
                   plan.spec.LastAddress(), coverage.firstUncovered, coverage.lastUncovered);
    }
    if (coverage.badChecksumLine != 0) {
        FatalError(messages::kStampChecksumFormat, dataFile,
                   static_cast<long long>(coverage.badChecksumLine), plan.spec.address,
                   plan.spec.LastAddress());
    }
    if (plan.overwrite || coverage.Blank()) {
        return {};
    }
    std::string held;
    for (uint8_t byte : coverage.bytes) {
        held += FormatText(held.empty() ? "%02X" : " %02X", static_cast<unsigned>(byte));
    }
    return {{coverage.fieldLine, FormatText(messages::kStampFieldNotBlankFormat, plan.spec.address,
                                            plan.spec.LastAddress(), held.c_str())}};
}

std::string LedgerShownName(const std::string& ledger) {
    return IsDatabaseUrl(ledger) ? WithPasswordMasked(ledger) : ledger;
}
