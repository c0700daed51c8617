#include "sim/SimOptions.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <functional>

namespace sim {

namespace {

using Apply = std::function<bool(SimOptions&, const std::string&)>;

struct OptionEntry {
    const char* name;
    const char* argument;  // nullptr: a switch without value
    const char* help;
    Apply apply;
};

bool ParseCount(const std::string& text, long low, long high, long& value) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    value = std::strtol(text.c_str(), &end, 10);
    return *end == '\0' && value >= low && value <= high;
}

constexpr long kMaxCount = 1000000000L;

Apply Count(int BoardConfig::*field, long low = 0) {
    return [field, low](SimOptions& options, const std::string& text) {
        long value = 0;
        if (!ParseCount(text, low, kMaxCount, value)) {
            return false;
        }
        options.config.*field = static_cast<int>(value);
        return true;
    };
}

Apply Text(std::string BoardConfig::*field) {
    return [field](SimOptions& options, const std::string& text) {
        bool ok = true;
        options.config.*field = UnescapeText(text, ok);
        return ok;
    };
}

Apply AddLine(std::vector<std::string> BoardConfig::*field) {
    return [field](SimOptions& options, const std::string& text) {
        bool ok = true;
        (options.config.*field).push_back(UnescapeText(text, ok));
        return ok;
    };
}

Apply Switch(bool BoardConfig::*field, bool value = true) {
    return [field, value](SimOptions& options, const std::string&) {
        options.config.*field = value;
        return true;
    };
}

// The longest line --long-line sends; enough to overflow any host buffer.
constexpr long kMaxLongLine = 100L * 1024 * 1024;
// The longest run --timeout allows: a day.
constexpr double kMaxTimeoutSeconds = 86400.0;

bool SetTimeout(SimOptions& options, const std::string& text) {
    char* end = nullptr;
    double seconds = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(seconds > 0) || seconds > kMaxTimeoutSeconds) {
        return false;
    }
    options.config.runTimeoutMs = static_cast<int>(seconds * 1000.0 + 0.5);
    return true;
}

bool SetBaud(SimOptions& options, const std::string& text) {
    long value = 0;
    if (!ParseCount(text, 1, 100000000L, value)) {
        return false;
    }
    options.config.baudRate = static_cast<uint32_t>(value);
    return true;
}

bool SetLongLine(SimOptions& options, const std::string& text) {
    long value = 0;
    if (!ParseCount(text, 1, kMaxLongLine, value)) {
        return false;
    }
    options.config.noiseOnConnect += std::string(static_cast<size_t>(value), 'x');
    return true;
}

bool SetHangUpBytes(SimOptions& options, const std::string& text) {
    long value = 0;
    if (!ParseCount(text, 1, kMaxCount, value)) {
        return false;
    }
    options.config.hangUpAfterBytes = value;
    return true;
}

bool SetCountReply(SimOptions& options, const std::string& text) {
    bool ok = true;
    options.config.countReply = UnescapeText(text, ok);
    return ok;
}

bool SetLink(SimOptions& options, const std::string& text) {
    options.linkPath = text;
    return !text.empty();
}

bool SetQuiet(SimOptions& options, const std::string&) {
    options.quiet = true;
    return true;
}

bool SetOff(SimOptions& options, const std::string&) {
    options.startOff = true;
    return true;
}

bool SetUsbAcm(SimOptions& options, const std::string& text) {
    options.gadget.controller = text;
    return !text.empty() && text.find('/') == std::string::npos;
}

bool SetLineLog(SimOptions& options, const std::string& text) {
    options.gadget.lineLogPath = text;
    return !text.empty();
}

bool SetPowerLine(SimOptions& options, const std::string& text) {
    options.gadget.powerLine = AcmLineNamed(text);
    return options.gadget.powerLine == AcmLine::Dtr || options.gadget.powerLine == AcmLine::Rts;
}

bool SetStartSignal(SimOptions& options, const std::string& text) {
    options.gadget.startSignal = AcmLineNamed(text);
    return options.gadget.startSignal == AcmLine::Dsr ||
           options.gadget.startSignal == AcmLine::Dcd || options.gadget.startSignal == AcmLine::Ri;
}

bool SetSignalGap(SimOptions& options, const std::string& text) {
    long value = 0;
    if (!ParseCount(text, 1, 600000L, value)) {
        return false;
    }
    options.gadget.signalGapMs = static_cast<int>(value);
    return true;
}

// Every option, in the order --help lists them; an entry without a name is a
// heading.
const std::vector<OptionEntry> kOptions = {
    {"--link", "PATH", "also make a symbolic link PATH to the port (removed at exit)", SetLink},
    {"--identity", "TEXT", "text after \"+\" in the answer to \"?\"", Text(&BoardConfig::identity)},
    {"--greeting", "LINE", "a line sent after the identity line (repeatable)",
     AddLine(&BoardConfig::greeting)},
    {"--log", "FILE", "write every byte received to FILE", Text(&BoardConfig::logPath)},
    {"--baud", "N", "pace both directions like a serial line at N baud (10 bits a byte)", SetBaud},
    {"--exit-after-start", nullptr, "end once \"S\" has arrived",
     Switch(&BoardConfig::exitAfterStart)},
    {"--timeout", "S", "end after S seconds (fractions allowed)", SetTimeout},
    {"--expect-flash", nullptr, "a complete download needs \"W\" acknowledged before \"S\"",
     Switch(&BoardConfig::expectFlash)},
    {"--no-start-expected", nullptr, "a complete download needs no \"S\" (vantoir -L)",
     Switch(&BoardConfig::expectStart, false)},
    {"--recover-trailing-command", nullptr, "take \":<record>C\" as a record and the command \"C\"",
     Switch(&BoardConfig::recoverTrailingCommand)},
    {"--flash-lines", "N", "progress lines sent in answer to \"W\" before \"+\" (default 3)",
     Count(&BoardConfig::flashProgressLines)},
    {"--flash-interval", "MS", "time before each of them and before the \"+\" (default 100)",
     Count(&BoardConfig::flashIntervalMs)},
    {"--flash-text", "TEXT", "text of a progress line; %d is the percentage",
     Text(&BoardConfig::flashProgressText)},
    {"--quiet", nullptr, "print no summary at the end", SetQuiet},
    {"--program-lines", "N",
     "once \"S\" arrives, the started program prints N lines \"program line 1\"..., "
     "the first at once",
     Count(&BoardConfig::programLines)},
    {"--program-interval", "MS", "time between the program's lines (default 100)",
     Count(&BoardConfig::programIntervalMs)},
    {"--vanish-after", "MS",
     "MS after the start the port goes away (link removed, line hung up) as a pulled adapter",
     Count(&BoardConfig::vanishAfterMs, 1)},
    {"--vanish-for", "MS",
     "and comes back MS later on a new pseudo-terminal, the --link made again (default 1000); "
     "the started program goes on where it was",
     Count(&BoardConfig::vanishForMs)},
    {"--off", nullptr, "the board starts switched off (SIGUSR2 or its power line switches it on)",
     SetOff},
    {nullptr, nullptr,
     "A USB CDC-ACM serial function instead of a pseudo-terminal (Linux, as root;\n"
     "configfs mounted, modules libcomposite and usb_f_fs loaded):",
     nullptr},
    {"--usb-acm", "UDC",
     "be the function on the USB device controller UDC (e.g. dummy_udc.0); prints "
     "usb:1d6b:0104, the name of the host's port",
     SetUsbAcm},
    {"--line-log", "FILE",
     "write every line change, rate and break the host asks for to FILE, a line each: "
     "\"MS dtr=D rts=R\", \"MS rate=N\", \"MS break=MS\" (MS since the start; also "
     "\"MS power=on|off\" and the board's input lines, \"MS dsr=1\")",
     SetLineLog},
    {"--power-line", "LINE", "the board is on while the host asserts LINE (dtr or rts), else off",
     SetPowerLine},
    {"--start-signal", "LINE",
     "LINE (dsr, dcd or ri) is a fixture's start signal: on at the start; after a complete "
     "download, once the board is off, off and on again (the next board)",
     SetStartSignal},
    {"--signal-gap", "MS", "the time before each of those changes (default 300)", SetSignalGap},
    {nullptr, nullptr, "Faults (all off by default; they combine):", nullptr},
    {"--silent-polls", "N", "give no answer to the first N \"?\" (board switched off)",
     Count(&BoardConfig::silentPolls)},
    {"--poll-message", "LINE", "send LINE in answer to every \"?\" (repeatable)",
     AddLine(&BoardConfig::pollMessages)},
    {"--request-message", "LINE", "send LINE after \"R\", before its \"+\" (repeatable)",
     AddLine(&BoardConfig::requestMessages)},
    {"--start-message", "LINE", "send LINE when \"S\" arrives (repeatable)",
     AddLine(&BoardConfig::startMessages)},
    {"--ignore-requests", "N", "give no answer to the first N \"R\"",
     Count(&BoardConfig::ignoreRequests)},
    {"--ignore-counts", "N", "give no answer to the first N \"C\"",
     Count(&BoardConfig::ignoreCounts)},
    {"--late-request", "MS", "answer the first \"R\" MS late (what follows waits behind it)",
     Count(&BoardConfig::lateRequestMs)},
    {"--late-count", "MS", "answer the first \"C\" MS late (what follows waits behind it)",
     Count(&BoardConfig::lateCountMs)},
    {"--count-offset", "N", "answer \"C\" with the true count plus N (N may be negative)",
     Count(&BoardConfig::countOffset, -kMaxCount)},
    {"--flash-ack-delay", "MS", "wait MS more before the \"+\" that answers \"W\"",
     Count(&BoardConfig::flashAckDelayMs)},
    {"--repeat-acks", "N", "send every \"+\" answer to \"?\", \"R\", \"C\", \"W\" N times more",
     Count(&BoardConfig::repeatAcks)},
    {"--count-message", "LINE", "send LINE after \"C\", before its answer (repeatable)",
     AddLine(&BoardConfig::countMessages)},
    {"--record-message-every", "N", "send \"-Received N records\" every N record lines",
     Count(&BoardConfig::recordMessageInterval)},
    {"--count-reply", "TEXT", "answer \"C\" with the line TEXT, e.g. \"+250 lines\" or \"+\"",
     SetCountReply},
    {"--flash-never-ack", nullptr, "never acknowledge \"W\"", Switch(&BoardConfig::flashNeverAck)},
    {"--split-pause", "MS", "send every line in three writes: half, rest + CR, LF; MS apart",
     Count(&BoardConfig::splitPauseMs)},
    {"--noise-before-lines", "TEXT", "send TEXT (no line end) before every line",
     Text(&BoardConfig::noiseBeforeLines)},
    {"--noise-on-connect", "TEXT", "send TEXT (no line end) when the first byte arrives",
     Text(&BoardConfig::noiseOnConnect)},
    {"--long-line", "N", "send N bytes \"x\" without line end when the first byte arrives",
     SetLongLine},
    {"--echo", nullptr, "send back every byte received", Switch(&BoardConfig::echo)},
    {"--answer-on-receive", "TEXT", "send TEXT after every chunk received",
     Text(&BoardConfig::answerOnReceive)},
    {"--no-protocol", nullptr, "answer no command (with --echo: a plain echo board)",
     Switch(&BoardConfig::loaderProtocol, false)},
    {"--hang-up-after-bytes", "N", "close the line once N bytes have arrived", SetHangUpBytes},
    {"--hang-up-after-records", "N", "close the line once N record lines have arrived",
     Count(&BoardConfig::hangUpAfterRecords)},
    {"--silent-after-records", "N", "answer nothing once N record lines have arrived",
     Count(&BoardConfig::silentAfterRecords)},
};

const OptionEntry* FindOption(const std::string& name) {
    for (const OptionEntry& entry : kOptions) {
        if (entry.name != nullptr && name == entry.name) {
            return &entry;
        }
    }
    return nullptr;
}

constexpr size_t kHelpColumn = 30;
constexpr size_t kHelpWidth = 79;

// One option's lines of --help: left, then help from kHelpColumn on, wrapped
// at word boundaries within kHelpWidth.
std::string WrapHelp(std::string left, const std::string& help) {
    std::string text;
    std::string line =
        left.size() < kHelpColumn ? left + std::string(kHelpColumn - left.size(), ' ') : left + " ";
    size_t start = 0;
    while (start < help.size()) {
        size_t room = kHelpWidth - line.size();
        size_t end = help.size() - start <= room ? help.size() : help.rfind(' ', start + room);
        if (end == std::string::npos || end <= start) {
            end = std::min(help.size(), start + room);
        }
        text += line + help.substr(start, end - start) + "\n";
        line = std::string(kHelpColumn, ' ');
        start = end < help.size() && help[end] == ' ' ? end + 1 : end;
    }
    return text;
}

}  // namespace

SimOptions ParseSimOptions(const std::vector<std::string>& args) {
    SimOptions options;
    for (size_t i = 0; i < args.size() && options.error.empty(); ++i) {
        std::string name = args[i];
        std::string value;
        bool hasValue = false;
        size_t equals = name.find('=');
        if (name.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
            hasValue = true;
        }
        if (name == "--help" || name == "-h") {
            options.help = true;
            continue;
        }
        const OptionEntry* entry = FindOption(name);
        if (entry == nullptr) {
            options.error = "unknown option " + name;
        } else if (entry->argument == nullptr && hasValue) {
            options.error = name + " takes no value";
        } else if (entry->argument != nullptr && !hasValue && i + 1 >= args.size()) {
            options.error = name + " needs a value " + entry->argument;
        } else {
            if (entry->argument != nullptr && !hasValue) {
                value = args[++i];
            }
            if (!entry->apply(options, value)) {
                options.error = "bad value for " + name + ": \"" + value + "\"";
            }
        }
    }
    const AcmGadgetConfig& gadget = options.gadget;
    if (options.error.empty() && gadget.controller.empty() &&
        (!gadget.lineLogPath.empty() || gadget.powerLine != AcmLine::None ||
         gadget.startSignal != AcmLine::None)) {
        options.error = "--line-log, --power-line and --start-signal need --usb-acm";
    }
    if (options.error.empty() && !gadget.controller.empty() &&
        (!options.linkPath.empty() || options.config.vanishAfterMs > 0)) {
        options.error = "--link and --vanish-after are for the pseudo-terminal, not --usb-acm";
    }
    return options;
}

std::string SimUsage() {
    std::string text =
        "Usage: kelvor-sim [options]\n"
        "\n"
        "A simulated KELVOR boot loader on a pseudo-terminal. It prints the path of its\n"
        "port on standard output (one line) and plays the board until it is interrupted\n"
        "(Ctrl-C), until --exit-after-start or --timeout ends it, or until it hangs up.\n"
        "Point vantoir at the port: vantoir -P <path> -F file.hex\n"
        "\n"
        "It answers \"?\" with \"+\" and its identity, then its greeting lines; \"R\" with\n"
        "\"+\" (the record count starts from 0); \"C\" with a \"-\" line per bad record\n"
        "and \"+\" and the count; \"W\" with progress lines and \"+\"; \"S\" starts the\n"
        "program. Every line that begins with \":\" after \"R\" counts as a record and\n"
        "is checked (syntax, length, checksum). A line ends at CR or LF.\n"
        "\n"
        "Options (values may also be given as --option=value; texts may hold the\n"
        "escapes \\r \\n \\t \\\\ \\xHH):\n";
    for (const OptionEntry& entry : kOptions) {
        if (entry.name == nullptr) {
            text += std::string("\n") + entry.help + "\n";
            continue;
        }
        std::string left = std::string("  ") + entry.name;
        if (entry.argument != nullptr) {
            left += std::string(" ") + entry.argument;
        }
        text += WrapHelp(left, entry.help);
    }
    text +=
        "  --help                      show this text\n"
        "\n"
        "Signals: SIGUSR1 switches the board off (it answers nothing and drops what\n"
        "it was sending), SIGUSR2 switches it on again with its boot loader afresh,\n"
        "as a power switch would: kill -USR1 PID; kill -USR2 PID. To rehearse\n"
        "vantoir --repeat without hardware. Every signal counts, in order, however\n"
        "close together; switched off by SIGUSR1, the board stays off at least 2 s\n"
        "before a SIGUSR2 switches it on again.\n"
        "\n"
        "At the end it prints a summary on standard error: the commands seen, the\n"
        "records received and how many had errors, and whether the program was\n"
        "started.\n"
        "\n"
        "Exit status:\n"
        "  0  a complete, valid download took place: at least one record after the\n"
        "     last \"R\", none with an error, \"C\" answered with the true count after\n"
        "     the last record (a wrong-count fault spoils it), \"W\" acknowledged after\n"
        "     that with --expect-flash, and \"S\" after that unless --no-start-expected\n"
        "  1  no complete download (interrupted, timed out or hung up before one)\n"
        "  2  bad command line, or the port could not be made\n";
    return text;
}

std::string UnescapeText(const std::string& text, bool& ok) {
    std::string result;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 >= text.size()) {
            ok = ok && text[i] != '\\';
            result += text[i];
            continue;
        }
        char kind = text[++i];
        if (kind == 'r') {
            result += '\r';
        } else if (kind == 'n') {
            result += '\n';
        } else if (kind == 't') {
            result += '\t';
        } else if (kind == '\\') {
            result += '\\';
        } else if (kind == 'x' && i + 2 < text.size() &&
                   std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
                   std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            result += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            ok = false;
            result += kind;
        }
    }
    return result;
}

}  // namespace sim
