#include "app/CommandLine.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/CommandLineMessages.h"
#include "app/check/CheckMessages.h"
#include "app/console/ConsoleSwitches.h"
#include "app/gang/GangMessages.h"
#include "app/gang/GangPorts.h"
#include "app/ports/PortListing.h"
#include "errors/FatalError.h"
#include "errors/Version.h"
#include "serial/LineSequence.h"

namespace {

enum class Switch {
    Version,
    Port,
    Baud,
    File,
    Debug,
    NoStart,
    Console,
    Raw,
    Handshake,
    Flash,
    Help,
    VersionLine,
    ListPorts,
    CheckImage,
    CheckOnly,
    Timeout,
    Report,
    Repeat,
    Boards,
    Gang,
    GangMember,
    Stamp,
    StampLedger,
    StampStart,
    StampStep,
    StampLast,
    StampList,
    Monitor,
    Reconnect,
    Log,
    Timestamps,
    TimestampsIso,
    Reset,
    ResetEnd,
    PowerCommand,
    StartWhen,
};

struct SwitchEntry {
    const char* text;
    Switch which;
    bool takesValue;
};

// Matched in this order; the first match decides.
const SwitchEntry kSwitches[] = {
    {"-v", Switch::Version, false},
    {"-P", Switch::Port, true},
    {"-B", Switch::Baud, true},
    {"-F", Switch::File, true},
    {"-D", Switch::Debug, false},
    {"-L", Switch::NoStart, false},
    {"-C", Switch::Console, false},
    {"-R", Switch::Raw, false},
    {"-fp", Switch::Handshake, false},
    {"-W", Switch::Flash, false},
    {"--help", Switch::Help, false},
    {"-h", Switch::Help, false},
    {"-?", Switch::Help, false},
    {"--version", Switch::VersionLine, false},
    {"--list-ports", Switch::ListPorts, false},
    {"--check", Switch::CheckImage, false},
    {"--check-only", Switch::CheckOnly, false},
    {"--timeout", Switch::Timeout, true},
    {"--report", Switch::Report, true},
    {"--repeat", Switch::Repeat, false},
    {"--boards", Switch::Boards, true},
    {"--gang", Switch::Gang, true},
    {"--stamp", Switch::Stamp, true},
    {"--stamp-ledger", Switch::StampLedger, true},
    {"--stamp-start", Switch::StampStart, true},
    {"--stamp-step", Switch::StampStep, true},
    {"--stamp-last", Switch::StampLast, true},
    {"--stamp-list", Switch::StampList, true},
    {"--monitor", Switch::Monitor, false},
    {"--reconnect", Switch::Reconnect, false},
    {"--log", Switch::Log, true},
    {"--timestamps", Switch::Timestamps, false},
    {"--timestamps-iso", Switch::TimestampsIso, false},
    {"--reset", Switch::Reset, true},
    {"--reset-end", Switch::ResetEnd, true},
    {"--power-command", Switch::PowerCommand, true},
    {"--start-when", Switch::StartWhen, true},
    // Not for the user: given by a gang to each of its runs.
    {"--gang-member", Switch::GangMember, true},
};

constexpr uint32_t kMaxTimeoutSeconds = 86400;
constexpr uint32_t kMaxBoards = 1000000;

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

const SwitchEntry* FindSwitch(const char* argument) {
    for (const SwitchEntry& entry : kSwitches) {
        if (MatchesSwitch(argument, entry.text)) {
            return &entry;
        }
    }
    return nullptr;
}

bool IsConversionSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The switches that answer a request and end the program.
void AnswerRequest(Switch which, const char* programName) {
    switch (which) {
        case Switch::Version:
            PrintVersion();
        case Switch::Help:
            PrintUsage(programName, Settings());
        case Switch::VersionLine:
            PrintVersionLine();
        case Switch::ListPorts:
            PrintPortList();
        default:
            break;
    }
}

// A whole number from low to high in plain decimal digits, nothing else;
// anything else ends the run with "Invalid value for switch %s: %s\n".
uint32_t WholeNumber(const char* switchText, const char* value, uint32_t low, uint32_t high) {
    uint64_t number = 0;
    const char* digit = value;
    for (; *digit >= '0' && *digit <= '9' && number <= high; ++digit) {
        number = number * 10 + static_cast<uint64_t>(*digit - '0');
    }
    if (digit == value || *digit != '\0' || number < low || number > high) {
        FatalError(messages::kInvalidValueFormat, switchText, value);
    }
    return static_cast<uint32_t>(number);
}

// The stamp switches are kept as given; app/stamp/StampPlan.h reads them.
bool ApplyStampSwitch(Switch which, const char* value, Settings& settings) {
    const char** field = which == Switch::Stamp         ? &settings.stamp
                         : which == Switch::StampLedger ? &settings.stampLedger
                         : which == Switch::StampStart  ? &settings.stampStart
                         : which == Switch::StampStep   ? &settings.stampStep
                         : which == Switch::StampLast   ? &settings.stampLast
                         : which == Switch::StampList   ? &settings.stampList
                                                        : nullptr;
    if (field != nullptr) {
        *field = value;
    }
    return field != nullptr;
}

const char* CheckedSequence(const char* switchText, const char* value) {
    LineSequence sequence;
    std::string why;
    if (!ParseLineSequence(value, sequence, why)) {
        FatalError(messages::kInvalidValueWhyFormat, switchText, value, why.c_str());
    }
    return value;
}

const char* CheckedLevel(const char* switchText, const char* value) {
    LineLevel level;
    std::string why;
    if (!ParseLineLevel(value, level, why)) {
        FatalError(messages::kInvalidValueWhyFormat, switchText, value, why.c_str());
    }
    return value;
}

void ApplySwitch(Switch which, const char* switchText, const char* value, Settings& settings) {
    if (ApplyStampSwitch(which, value, settings)) {
        return;
    }
    switch (which) {
        case Switch::Timeout:
            settings.timeoutSeconds = WholeNumber(switchText, value, 1, kMaxTimeoutSeconds);
            break;
        case Switch::Report:
            settings.reportFile = value;
            break;
        case Switch::Repeat:
            settings.repeat = true;
            break;
        case Switch::Boards:
            settings.boards = WholeNumber(switchText, value, 1, kMaxBoards);
            settings.repeat = true;
            break;
        case Switch::Port:
            settings.portName = value;
            break;
        case Switch::Baud:
            settings.baudRate = ConvertDecimal(value);
            break;
        case Switch::File:
            settings.dataFile = value;
            break;
        case Switch::Debug:
            settings.debug = 1;
            break;
        case Switch::NoStart:
            settings.sendStart = 0;
            break;
        case Switch::Console:
            settings.mode = ModeConsole;
            break;
        case Switch::Raw:
            settings.mode = ModeRaw;
            break;
        case Switch::Handshake:
            settings.consoleHandshake = 1;
            break;
        case Switch::Flash:
            settings.writeFlash = 1;
            break;
        case Switch::Gang:
            settings.gang = value;
            break;
        case Switch::GangMember:
            settings.gangMember = value;
            break;
        case Switch::CheckImage:
            settings.checkImage = 1;
            break;
        case Switch::CheckOnly:
            settings.checkOnly = 1;
            break;
        case Switch::Monitor:
            settings.monitor = true;
            break;
        case Switch::Reconnect:
            settings.reconnect = true;
            break;
        case Switch::Log:
            settings.logFile = value;
            break;
        case Switch::Timestamps:
            settings.lineStamps = kLineStampsElapsed;
            break;
        case Switch::TimestampsIso:
            settings.lineStamps = kLineStampsDateTime;
            break;
        case Switch::Reset:
            settings.resetSequence = CheckedSequence(switchText, value);
            break;
        case Switch::ResetEnd:
            settings.resetEndSequence = CheckedSequence(switchText, value);
            break;
        case Switch::PowerCommand:
            settings.powerCommand = value;
            break;
        case Switch::StartWhen:
            settings.startWhen = CheckedLevel(switchText, value);
            break;
        default:
            break;
    }
}

const char* ProgramName(char** arguments) {
    return arguments[0] != nullptr ? arguments[0] : "vantoir";
}

void PrintEchoLine(int argumentCount, char** arguments) {
    std::printf("%s", messages::kParsedCommandLine);
    for (int i = 1; i < argumentCount; ++i) {
        std::printf(messages::kEchoArgumentFormat, arguments[i]);
    }
    std::printf("\n");
    // Shown at once, also through a pipe, before the port is touched.
    std::fflush(stdout);
}

// The fixture's switches as typed, which work with downloads only, and
// --start-when with --repeat only.
struct FixtureSwitches {
    const char* fixture = nullptr;  // the first of them
    const char* mode = nullptr;     // the last of -C and -R
    const char* startWhen = nullptr;

    void Note(Switch which, const char* typed) {
        const bool fixtureSwitch = which == Switch::Reset || which == Switch::ResetEnd ||
                                   which == Switch::PowerCommand || which == Switch::StartWhen;
        if (fixtureSwitch && fixture == nullptr) {
            fixture = typed;
        }
        if (which == Switch::StartWhen) {
            startWhen = typed;
        } else if (which == Switch::Console || which == Switch::Raw) {
            mode = typed;
        }
    }

    void Check(const Settings& settings) const {
        if (fixture != nullptr && settings.mode != ModeDownload) {
            FatalError(messages::kDownloadOnlyFormat, fixture, mode);
        }
        if (startWhen != nullptr && !settings.repeat) {
            FatalError(messages::kNeedsRepeatFormat, startWhen);
        }
    }
};

// The switches, as typed, that a gang cannot be combined with.
struct GangSwitches {
    const char* gang = nullptr;
    const char* mode = nullptr;  // the last of -C and -R
    const char* port = nullptr;

    void Note(Switch which, const char* typed) {
        if (which == Switch::Gang) {
            gang = typed;
        } else if (which == Switch::Console || which == Switch::Raw) {
            mode = typed;
        } else if (which == Switch::Port) {
            port = typed;
        }
    }

    void Check(Settings& settings) const {
        std::vector<std::string>& ports = settings.gangPorts;
        std::string problem;
        if (!SplitGangPorts(settings.gang, ports, problem)) {
            FatalError(messages::kGangInvalidListFormat, gang, settings.gang, problem.c_str());
        }
        if (settings.mode != ModeDownload) {
            FatalError(messages::kGangDownloadOnlyFormat, gang, mode);
        }
        if (port != nullptr) {
            FatalError(messages::kGangNamesThePortsFormat, gang, port);
        }
    }
};

}  // namespace

std::vector<std::string> GangMemberArguments(int argumentCount, char** arguments,
                                             const std::string& program, const std::string& port) {
    std::vector<std::string> member = {program};
    bool portGiven = false;
    for (int i = 1; i < argumentCount; ++i) {
        const SwitchEntry* entry = FindSwitch(arguments[i]);
        const int taken = entry != nullptr && entry->takesValue ? 2 : 1;
        if (entry != nullptr && entry->which == Switch::CheckImage) {
            // The gang has checked the image once, before any run started.
        } else if (entry != nullptr && entry->which == Switch::Gang) {
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

void ParseCommandLine(int argumentCount, char** arguments, Settings& settings) {
    if (argumentCount < 2) {
        PrintUsage(ProgramName(arguments), settings);
    }
    GangSwitches gang;
    FixtureSwitches fixture;
    for (int i = 1; i < argumentCount; ++i) {
        const char* typed = arguments[i];
        const SwitchEntry* entry = FindSwitch(typed);
        if (entry == nullptr) {
            FatalError(messages::kUnknownSwitchFormat, arguments[i]);
        }
        const char* value = nullptr;
        if (entry->takesValue) {
            if (i + 1 >= argumentCount) {
                FatalError(messages::kMissingArgumentFormat, arguments[i]);
            }
            value = arguments[++i];
        }
        AnswerRequest(entry->which, ProgramName(arguments));
        ApplySwitch(entry->which, typed, value, settings);
        gang.Note(entry->which, arguments[i - (value != nullptr ? 1 : 0)]);
        fixture.Note(entry->which, arguments[i - (value != nullptr ? 1 : 0)]);
    }
    CheckConsoleSwitches(settings);
    if (settings.gang != nullptr) {
        gang.Check(settings);
    }
    fixture.Check(settings);
    // Console mode never reads the data file, and raw mode copies any file.
    if (settings.checkImage != 0 && settings.checkOnly == 0 && settings.mode != ModeDownload) {
        FatalError("%s", messages::kCheckNeedsDownload);
    }
    // A gang has shown its own.
    if (settings.gangMember == nullptr) {
        PrintEchoLine(argumentCount, arguments);
    }
}

void PrintUsage(const char* programName, const Settings& settings) {
    std::printf("%s", messages::kTitleLine);
    std::printf(messages::kVersionNoticeFormat, version::kVersion);
    std::printf("%s\n", messages::kContactLine);
    std::printf(messages::kUsageFormat, programName);
    std::printf(messages::kUsagePortFormat, settings.portName);
    std::printf(messages::kUsageBaudFormat, static_cast<int>(settings.baudRate));
    std::printf("%s", messages::kUsageSwitchLines);
    std::exit(0);
}

void PrintVersionLine() {
    std::printf(messages::kVersionLineFormat, version::kVersion);
    std::exit(0);
}

void PrintVersion() {
    std::printf("%s", messages::kTitleLine);
    std::printf("%s", messages::kNoticeLine);
    std::printf("%s", messages::kContactLine);
    std::exit(1);
}
