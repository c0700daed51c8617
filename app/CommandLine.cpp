#include "app/CommandLine.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/CommandLineMessages.h"
#include "app/cli/SwitchRow.h"
#include "app/gang/GangPorts.h"
#include "errors/FatalError.h"
#include "errors/Version.h"
#include "text/DatabaseAddress.h"
#include "text/Shown.h"

namespace {

bool IsConversionSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

const char* ProgramName(char** arguments) {
    return arguments[0] != nullptr ? arguments[0] : "vantoir";
}

// Every argument as typed, but a database's address without its password:
// the value of a switch that takes one, and what follows it up to the next
// argument that begins with '-'.
void PrintEchoLine(int argumentCount, char** arguments) {
    ShowFormatted("%s", messages::kParsedCommandLine);
    bool address = false;
    for (int i = 1; i < argumentCount; ++i) {
        const SwitchRow* row = FindSwitch(arguments[i]);
        address = (address && arguments[i][0] != '-') || (row != nullptr && row->addressValue);
        const bool masked = address && row == nullptr;
        ShowFormatted(messages::kEchoArgumentFormat,
                      masked ? WithPasswordMasked(arguments[i]).c_str() : arguments[i]);
        if (row != nullptr && row->valueName != nullptr && i + 1 < argumentCount) {
            ++i;
            ShowFormatted(messages::kEchoArgumentFormat,
                          address ? WithPasswordMasked(arguments[i]).c_str() : arguments[i]);
        }
    }
    ShowFormatted("\n");
    // Shown at once, also through a pipe, before the port is touched.
    std::fflush(stdout);
}

// --help: after the usage, every switch it does not list, one line each; a
// row whose help is empty shares the line of the next row that has one.
std::string FurtherSwitchLines() {
    std::string text = "\nFurther switches:\n";
    std::string line;
    for (const SwitchTable* table : SwitchTables()) {
        for (size_t i = 0; i < table->count; ++i) {
            const SwitchRow& row = table->rows[i];
            if (row.help == nullptr) {
                continue;
            }
            line += line.empty() ? "[" : " [";
            line += row.text;
            if (row.valueName != nullptr) {
                line += std::string(" ") + row.valueName;
            }
            line += "]";
            if (*row.help != '\0') {
                text += line + " " + row.help + "\n";
                line.clear();
            }
        }
    }
    return text + "See the manual page vantoir(1).\n";
}

}  // namespace

std::vector<std::string> GangMemberArguments(int argumentCount, char** arguments,
                                             const std::string& program, const std::string& port) {
    std::vector<std::string> member = {program};
    bool portGiven = false;
    bool eventsToOutput = false;
    for (int i = 1; i < argumentCount; ++i) {
        const SwitchRow* row = FindSwitch(arguments[i]);
        const int taken = ArgumentsOfUse(row, i, argumentCount, arguments);
        if (row != nullptr && std::strcmp(row->text, "--events") == 0 && i + 1 < argumentCount) {
            eventsToOutput = std::strcmp(arguments[i + 1], "-") == 0;
        }
        const ForGangRun use = row != nullptr ? row->forGangRun : ForGangRun::PassOn;
        if (use == ForGangRun::Drop) {
        } else if (use == ForGangRun::PerPort && i + 1 < argumentCount) {
            member.insert(member.end(), {arguments[i], GangRunId(arguments[i + 1], port)});
        } else if (use == ForGangRun::ByPort) {
            if (!portGiven) {
                member.insert(member.end(), {"-P", port});
                portGiven = true;
            }
        } else {
            member.insert(member.end(), arguments + i,
                          arguments + std::min(i + taken, argumentCount));
        }
        i += taken - 1;
    }
    // The gang's standard output holds events: what the run's commands
    // write goes to standard error.
    if (eventsToOutput) {
        member.push_back("--commands-to-stderr");
    }
    member.push_back("--gang-member");
    return member;
}

int32_t ConvertDecimal(const char* text) {
    while (IsConversionSpace(*text)) {
        ++text;
    }
    bool negative = false;
    if (*text == '+' || *text == '-') {
        negative = *text == '-';
        ++text;
    }
    // Accumulate the magnitude, capped just past the largest value either
    // sign can take, so that long digit strings saturate instead of overflow.
    const int64_t limit = negative ? -static_cast<int64_t>(INT32_MIN) : INT32_MAX;
    int64_t magnitude = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        magnitude = magnitude * 10 + (*text - '0');
        if (magnitude > limit) {
            magnitude = limit;
        }
    }
    return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

ProtocolOptions ToProtocolOptions(const Settings& settings) {
    ProtocolOptions options;
    options.baudRate = static_cast<uint32_t>(settings.baudRate);
    options.debug = settings.debug != 0;
    options.sendStart = settings.sendStart != 0;
    options.writeFlash = settings.writeFlash != 0;
    options.consoleHandshake = settings.consoleHandshake != 0;
    options.timeoutSeconds = settings.timeoutSeconds;
    // A gang shows the prompt once for all its runs, and their progress from
    // their events.
    options.showPrompt = settings.gangMember == nullptr;
    options.showProgress = settings.gangMember == nullptr;
    return options;
}

void ParseCommandLine(int argumentCount, char** arguments, Settings& settings,
                      void (*beforeEcho)()) {
    if (argumentCount < 2) {
        PrintUsage(ProgramName(arguments), settings);
    }
    GivenSwitches given;
    for (int i = 1; i < argumentCount; ++i) {
        const char* typed = arguments[i];
        const SwitchRow* row = FindSwitch(typed);
        if (row == nullptr) {
            FatalError(messages::kUnknownSwitchFormat, typed);
        }
        const char* value = nullptr;
        if (row->valueName != nullptr) {
            if (i + 1 >= argumentCount) {
                FatalError(messages::kMissingArgumentFormat, typed);
            }
            value = arguments[++i];
        }
        row->apply({typed, value, ProgramName(arguments)}, settings);
        // A switch of many values: each argument after its value, up to the
        // next that begins with '-'.
        while (row->moreValues && i + 1 < argumentCount && arguments[i + 1][0] != '-') {
            row->apply({typed, arguments[++i], ProgramName(arguments)}, settings);
        }
        given.Add(row->text, typed);
    }
    for (const SwitchTable* table : SwitchTables()) {
        if (table->check != nullptr) {
            table->check(settings, given);
        }
    }
    if (beforeEcho != nullptr) {
        beforeEcho();
    }
    // A gang has shown its own.
    if (settings.gangMember == nullptr) {
        PrintEchoLine(argumentCount, arguments);
    }
}

void PrintUsage(const char* programName, const Settings& settings) {
    ShowFormatted("%s", messages::kTitleLine);
    ShowFormatted(messages::kVersionNoticeFormat, version::kVersion);
    ShowFormatted("%s\n", messages::kContactLine);
    ShowFormatted(messages::kUsageFormat, programName);
    ShowFormatted(messages::kUsagePortFormat, settings.portName);
    ShowFormatted(messages::kUsageBaudFormat, static_cast<int>(settings.baudRate));
    ShowFormatted("%s", messages::kUsageSwitchLines);
    std::exit(0);
}

void PrintHelp(const char* programName) {
    ShowFormatted("%s", messages::kTitleLine);
    ShowFormatted(messages::kVersionNoticeFormat, version::kVersion);
    ShowFormatted("%s\n", messages::kContactLine);
    ShowFormatted(messages::kUsageFormat, programName);
    const Settings defaults;
    ShowFormatted(messages::kUsagePortFormat, defaults.portName);
    ShowFormatted(messages::kUsageBaudFormat, static_cast<int>(defaults.baudRate));
    ShowFormatted("%s%s", messages::kUsageSwitchLines, FurtherSwitchLines().c_str());
    std::exit(0);
}

void PrintVersionLine() {
    ShowFormatted(messages::kVersionLineFormat, version::kVersion);
    std::exit(0);
}

void PrintVersion() {
    ShowFormatted("%s", messages::kTitleLine);
    ShowFormatted("%s", messages::kNoticeLine);
    ShowFormatted("%s", messages::kContactLine);
    std::exit(1);
}
