#include "app/cli/SwitchRow.h"

#include <cstring>
#include <string>

#include "app/CommandLineMessages.h"
#include "errors/FatalError.h"

namespace {

char FoldAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Whole-text comparison that ignores the case of A to Z and nothing else.
bool MatchesSwitch(const char* argument, const char* switchText) {
    for (; *argument != '\0' && *switchText != '\0'; ++argument, ++switchText) {
        if (FoldAsciiLetter(*argument) != FoldAsciiLetter(*switchText)) {
            return false;
        }
    }
    return *argument == '\0' && *switchText == '\0';
}

bool IsAmong(const char* text, std::initializer_list<const char*> texts) {
    for (const char* candidate : texts) {
        if (std::strcmp(text, candidate) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

const char* GivenSwitches::First(const char* text) const {
    return FirstOf({text});
}

const char* GivenSwitches::Last(const char* text) const {
    return LastOf({text});
}

const char* GivenSwitches::FirstOf(std::initializer_list<const char*> texts) const {
    for (const Use& use : uses) {
        if (IsAmong(use.text, texts)) {
            return use.typed;
        }
    }
    return nullptr;
}

const char* GivenSwitches::LastOf(std::initializer_list<const char*> texts) const {
    for (auto use = uses.rbegin(); use != uses.rend(); ++use) {
        if (IsAmong(use->text, texts)) {
            return use->typed;
        }
    }
    return nullptr;
}

const SwitchRow* FindSwitch(const char* argument) {
    for (const SwitchTable* table : SwitchTables()) {
        for (size_t i = 0; i < table->count; ++i) {
            if (MatchesSwitch(argument, table->rows[i].text)) {
                return &table->rows[i];
            }
        }
    }
    return nullptr;
}

uint32_t WholeNumberValue(const SwitchUse& use, uint32_t low, uint32_t high) {
    uint64_t number = 0;
    const char* digit = use.value;
    for (; *digit >= '0' && *digit <= '9' && number <= high; ++digit) {
        number = number * 10 + static_cast<uint64_t>(*digit - '0');
    }
    if (digit == use.value || *digit != '\0' || number < low || number > high) {
        FatalError(messages::kInvalidValueFormat, use.typed, use.value);
    }
    return static_cast<uint32_t>(number);
}

int ArgumentsOfUse(const SwitchRow* row, int at, int argumentCount, char** arguments) {
    int taken = row != nullptr && row->valueName != nullptr ? 2 : 1;
    while (row != nullptr && row->moreValues && at + taken < argumentCount &&
           arguments[at + taken][0] != '-') {
        ++taken;
    }
    return taken;
}

const char* NonBlankValue(const SwitchUse& use) {
    if (std::string(use.value).find_first_not_of(" \t") == std::string::npos) {
        FatalError(messages::kInvalidValueFormat, use.typed, use.value);
    }
    return use.value;
}
