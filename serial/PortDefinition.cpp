#include "serial/PortDefinition.h"

#include <cctype>
#include <string>
#include <vector>

namespace {

std::string Lowered(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

bool ParseNumber(const std::string& text, uint32_t& number) {
    if (text.empty() || text.size() > 10) {
        return false;
    }
    uint64_t value = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            return false;
        }
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > UINT32_MAX) {
        return false;
    }
    number = static_cast<uint32_t>(value);
    return true;
}

bool ParseBaud(const std::string& text, uint32_t& rate) {
    static const struct {
        const char* shortForm;
        uint32_t rate;
    } kAbbreviations[] = {{"11", 110},  {"15", 150},  {"30", 300},  {"60", 600},  {"12", 1200},
                          {"24", 2400}, {"48", 4800}, {"96", 9600}, {"19", 19200}};
    for (const auto& entry : kAbbreviations) {
        if (text == entry.shortForm) {
            rate = entry.rate;
            return true;
        }
    }
    return ParseNumber(text, rate);
}

bool ParseParity(const std::string& text, uint8_t& parity) {
    static const char kLetters[] = "noems";
    static const uint8_t kCodes[] = {kParityNone, kParityOdd, kParityEven, kParityMark,
                                     kParitySpace};
    for (size_t i = 0; i < 5; ++i) {
        if (text.size() == 1 && text[0] == kLetters[i]) {
            parity = kCodes[i];
            return true;
        }
    }
    return false;
}

bool ParseDataBits(const std::string& text, uint8_t& count) {
    if (text.size() != 1 || text[0] < '5' || text[0] > '8') {
        return false;
    }
    count = static_cast<uint8_t>(text[0] - '0');
    return true;
}

bool ParseStopBits(const std::string& text, uint8_t& code) {
    if (text == "1" || text == "2" || text == "1.5") {
        code = text == "1" ? kStopBitsOne : text == "2" ? kStopBitsTwo : kStopBitsOneAndHalf;
        return true;
    }
    return false;
}

bool ParseSwitch(const std::string& text, bool& on) {
    if (text != "on" && text != "off") {
        return false;
    }
    on = text == "on";
    return true;
}

// One of words, by position, into code.
bool ParseChoice(const std::string& text, std::vector<std::string> words, uint8_t& code) {
    for (size_t i = 0; i < words.size(); ++i) {
        if (text == words[i]) {
            code = static_cast<uint8_t>(i);
            return true;
        }
    }
    return false;
}

bool ParseSwitchInto(const std::string& text, bool& field) {
    return ParseSwitch(text, field);
}

bool ParseTimeoutSwitch(const std::string& text, PortTimeouts& timeouts) {
    bool on = false;
    if (!ParseSwitch(text, on)) {
        return false;
    }
    timeouts.writeTotalMultiplier = 0;
    timeouts.writeTotalConstant = on ? kDefinitionWriteTimeoutMs : 0;
    return true;
}

bool ParsePair(const std::string& key, const std::string& value, PortState& state,
               PortTimeouts& timeouts) {
    bool on = false;
    if (key == "baud")
        return ParseBaud(value, state.baudRate);
    if (key == "parity")
        return ParseParity(value, state.parity);
    if (key == "data")
        return ParseDataBits(value, state.byteSize);
    if (key == "stop")
        return ParseStopBits(value, state.stopBits);
    if (key == "octs")
        return ParseSwitchInto(value, state.outxCtsFlow);
    if (key == "odsr")
        return ParseSwitchInto(value, state.outxDsrFlow);
    if (key == "dtr")
        return ParseChoice(value, {"off", "on", "hs"}, state.dtrControl);
    if (key == "rts")
        return ParseChoice(value, {"off", "on", "hs", "tg"}, state.rtsControl);
    if (key == "to")
        return ParseTimeoutSwitch(value, timeouts);
    if (key == "xon" && ParseSwitch(value, on)) {
        state.outX = on;
        state.inX = on;
        return true;
    }
    return false;
}

// Parts of text between separators, without white space; a space as the
// separator stands for any white space.
std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts(1);
    for (char c : text) {
        const bool space = std::isspace(static_cast<unsigned char>(c)) != 0;
        if (c == separator || (space && separator == ' ')) {
            parts.emplace_back();
        } else if (!space) {
            parts.back() += c;
        }
    }
    return parts;
}

bool ParsePairs(const std::string& text, PortState& state, PortTimeouts& timeouts) {
    for (const std::string& word : Split(text, ' ')) {
        if (word.empty()) {
            continue;
        }
        const size_t equals = word.find('=');
        if (equals == std::string::npos ||
            !ParsePair(word.substr(0, equals), word.substr(equals + 1), state, timeouts)) {
            return false;
        }
    }
    return true;
}

bool ParseFlowLetter(const std::string& text, PortState& state) {
    if (text != "x" && text != "p") {
        return false;
    }
    const bool handshake = text == "p";
    state.outX = !handshake;
    state.inX = !handshake;
    state.outxCtsFlow = handshake;
    state.rtsControl = handshake ? kRtsControlHandshake : kRtsControlEnable;
    return true;
}

bool ParseShortForm(const std::string& text, PortState& state) {
    const std::vector<std::string> fields = Split(text, ',');
    if (fields.size() > 5 || fields[0].empty()) {
        return false;
    }
    bool parsed = ParseBaud(fields[0], state.baudRate);
    for (size_t i = 1; parsed && i < fields.size(); ++i) {
        const std::string& field = fields[i];
        if (field.empty()) {
            continue;
        }
        parsed = i == 1   ? ParseParity(field, state.parity)
                 : i == 2 ? ParseDataBits(field, state.byteSize)
                 : i == 3 ? ParseStopBits(field, state.stopBits)
                          : ParseFlowLetter(field, state);
    }
    return parsed;
}

// The text after a leading device name such as "COM1:".
std::string WithoutDeviceName(const std::string& text) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos || text.find('=') < colon) {
        return text;
    }
    return text.substr(colon + 1);
}

}  // namespace

bool ParsePortDefinition(const char* definition, PortState& state, PortTimeouts& timeouts) {
    const std::string text = WithoutDeviceName(Lowered(definition));
    if (text.find('=') != std::string::npos) {
        return ParsePairs(text, state, timeouts);
    }
    if (text.find_first_not_of(" \t") == std::string::npos) {
        return false;
    }
    return ParseShortForm(text, state);
}
