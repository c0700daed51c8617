#include "serial/LineSequence.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "errors/Interrupted.h"
#include "serial/COMPort.h"
#include "serial/Interrupt.h"
#include "serial/PortPlatform.h"

namespace {

// How often a wait looks for a request to end the run.
constexpr auto kInterruptLook = std::chrono::milliseconds(10);

// A whole number of 1 to limit in plain digits filling [begin, end).
bool SmallNumber(const std::string& text, size_t begin, size_t end, uint32_t limit,
                 uint32_t& value) {
    if (begin >= end || end - begin > 5) {
        return false;
    }
    uint32_t number = 0;
    for (size_t i = begin; i < end; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        number = number * 10 + static_cast<uint32_t>(text[i] - '0');
    }
    value = number;
    return number >= 1 && number <= limit;
}

// "dtr=1" or "rts=0" into step; false with why.
bool ParseSetting(const std::string& setting, const std::string& step, LineStep& parsed,
                  std::string& why) {
    const bool dtr = setting.rfind("dtr=", 0) == 0;
    const bool rts = setting.rfind("rts=", 0) == 0;
    if ((!dtr && !rts) || setting.size() != 5 || (setting[4] != '0' && setting[4] != '1')) {
        why = "The step " + step +
              " is neither a wait (1ms to 60000ms) nor a setting of DTR or RTS (dtr=1, rts=0, "
              "dtr=0+rts=1).";
        return false;
    }
    int& line = dtr ? parsed.dtr : parsed.rts;
    if (line != -1) {
        why = std::string("The step ") + step + " names " + (dtr ? "DTR" : "RTS") + " twice.";
        return false;
    }
    line = setting[4] - '0';
    return true;
}

bool ParseStep(const std::string& step, LineStep& parsed, std::string& why) {
    if (step.empty()) {
        why = "The sequence has an empty step.";
        return false;
    }
    if (step.size() > 2 && step.compare(step.size() - 2, 2, "ms") == 0 &&
        step.find_first_not_of("0123456789") == step.size() - 2) {
        if (!SmallNumber(step, 0, step.size() - 2, kLongestLineWaitMs, parsed.waitMs)) {
            why = "The wait " + step + " is not 1ms to 60000ms.";
            return false;
        }
        return true;
    }
    size_t begin = 0;
    for (;;) {
        const size_t plus = step.find('+', begin);
        const size_t end = plus == std::string::npos ? step.size() : plus;
        if (!ParseSetting(step.substr(begin, end - begin), step, parsed, why)) {
            return false;
        }
        if (plus == std::string::npos) {
            return true;
        }
        begin = plus + 1;
    }
}

void Wait(uint32_t waitMs, bool interruptible) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(waitMs);
    for (Clock::time_point now = Clock::now(); now < end; now = Clock::now()) {
        if (interruptible && InterruptRequest() != 0) {
            throw InterruptedError(InterruptRequest());
        }
        std::this_thread::sleep_until(interruptible ? std::min(end, now + kInterruptLook) : end);
    }
}

}  // namespace

bool ParseLineSequence(const char* text, LineSequence& sequence, std::string& why) {
    sequence = LineSequence();
    sequence.text = text;
    const std::string& all = sequence.text;
    if (all.empty()) {
        why = "The sequence is empty.";
        return false;
    }
    size_t begin = 0;
    for (;;) {
        const size_t comma = all.find(',', begin);
        const size_t end = comma == std::string::npos ? all.size() : comma;
        LineStep step;
        if (!ParseStep(all.substr(begin, end - begin), step, why)) {
            return false;
        }
        sequence.steps.push_back(step);
        if (comma == std::string::npos) {
            return true;
        }
        begin = comma + 1;
    }
}

void RunLineSequence(COMPort& port, const LineSequence& sequence, bool interruptible) {
    for (const LineStep& step : sequence.steps) {
        if (step.waitMs != 0) {
            Wait(step.waitMs, interruptible);
        } else {
            port.SetModemLines(step.dtr, step.rts);
        }
    }
}

bool ParseLineLevel(const char* text, LineLevel& level, std::string& why) {
    struct InputLine {
        const char* name;
        uint8_t bit;
    };
    static constexpr InputLine kInputs[] = {
        {"dsr", kModemDsr}, {"dcd", kModemCarrier}, {"ri", kModemRing}, {"cts", kModemCts}};
    level = LineLevel();
    level.text = text;
    const std::string& all = level.text;
    const size_t equals = all.find('=');
    const std::string name = all.substr(0, equals);
    for (const InputLine& input : kInputs) {
        if (name == input.name && equals != std::string::npos && equals + 2 == all.size() &&
            (all[equals + 1] == '0' || all[equals + 1] == '1')) {
            level.modemBit = input.bit;
            level.asserted = all[equals + 1] == '1';
            return true;
        }
    }
    why = "A start signal is an input line and a level: dsr, dcd, ri or cts, =0 or =1 (dsr=1).";
    return false;
}
