// The command-line parser fed arbitrary argument vectors (the input split at
// zero bytes, at most 12 arguments), checked against a model of the rules:
// switches matched whole, in their order, with A to Z case-folded; a value
// taken whatever it looks like; the first unknown argument, a missing value,
// -v or a request (--help, -h, -?, --version, --list-ports, --ledger-list,
// whose ledger may also be refused with status 1) ends the parse with its
// status; later settings overwrite earlier ones; --check with
// console or raw mode (and without --check-only) is rejected at the end, as
// is --gang with an unsound port list (empty, an empty entry, a port named
// twice), outside download mode or beside -P; so is --check-only without
// -F; so are the console's
// switches without a console (--reconnect, --log, --timestamps,
// --timestamps-iso without -C or --monitor; --monitor outside download mode
// or with --gang). The switches of production runs and fixtures (--timeout,
// --report, --repeat, --boards, the stamp's, --reset, --power-command,
// --start-when, --run-id, --station, --report-db, --yield with each
// source...) are known with the values they take (a database's address
// shown in the echo without its password), but their values and
// combinations are checked by rules the model leaves out: with one of them,
// the parse may also end with status 1 where the model accepts the line or
// answers a request. A
// rejected argument raises a ProgramError, caught here; the answered requests
// end the program, caught by wrapping exit at link time: the jump out of
// exit() leaves behind what the frames it skips still own, as the real exit()
// does, so scripts/fuzz runs this target without leak detection.

#include <fcntl.h>
#include <unistd.h>

#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/cli/SwitchRow.h"
#include "errors/ProgramError.h"
#include "fuzz/Check.h"
#include "fuzz/StdoutCapture.h"
#include "serial/PortPlatform.h"
#include "text/DatabaseAddress.h"

namespace {

std::jmp_buf programEnd;
int endStatus = -1;
bool parsing = false;

struct Expected {
    int status = -1;  // -1: accepted
    std::string port = "COM1";
    std::string file;
    int64_t baud = 115200;
    int sendStart = 1, debug = 0, flash = 0, handshake = 0, check = 0, checkOnly = 0;
    uint8_t mode = ModeDownload;
    bool portGiven = false;
    bool hasGang = false;
    std::string gang;
    bool hasGangMember = false;  // a run of a gang, which shows no echo line
    std::string gangMember;
    bool monitor = false, reconnect = false;
    bool hasLog = false;
    std::string log;
    bool fileGiven = false;
    uint8_t stamps = kLineStampsNone;
    bool inexact = false;  // a switch whose own rules the model leaves out
    // The arguments the echo shows with any password masked: the values of
    // the switches that take a database's address (--stamp-ledger,
    // --report-db).
    std::vector<bool> address;
};

// A gang's list: ports between commas, none empty, no device twice (by the
// platform's own naming: COM3 and com3, a port and its path).
bool SoundGangList(const std::string& list) {
    std::vector<std::string> devices;
    size_t start = 0;
    for (;;) {
        const size_t comma = list.find(',', start);
        const std::string port =
            list.substr(start, comma == std::string::npos ? comma : comma - start);
        const std::string device = SystemPortPlatform().DeviceIdentity(port.c_str());
        for (const std::string& seen : devices) {
            if (seen == device) {
                return false;
            }
        }
        if (port.empty()) {
            return false;
        }
        devices.push_back(device);
        if (comma == std::string::npos) {
            return true;
        }
        start = comma + 1;
    }
}

std::string Folded(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

int64_t Decimal(const std::string& text) {
    size_t i = text.find_first_not_of(" \t\n\v\f\r");
    if (i == std::string::npos) {
        return 0;
    }
    const bool negative = text[i] == '-';
    i += (text[i] == '-' || text[i] == '+') ? 1 : 0;
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > 2147483648LL) {
            value = 2147483648LL;
        }
    }
    value = negative ? -value : value;
    return value > INT32_MAX ? INT32_MAX : value;
}

// The row of a switch as the model knows it: the program's rows, compared
// case-folded; nullptr for an unknown argument.
const SwitchRow* RowOf(const std::string& folded) {
    for (const SwitchTable* table : SwitchTables()) {
        for (size_t i = 0; i < table->count; ++i) {
            if (Folded(table->rows[i].text) == folded) {
                return &table->rows[i];
            }
        }
    }
    return nullptr;
}

Expected Model(const std::vector<std::string>& args) {
    Expected e;
    e.address.assign(args.size(), false);
    if (args.empty()) {
        e.status = 0;
        return e;
    }
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string s = Folded(args[i]);
        const SwitchRow* row = RowOf(s);
        if (row == nullptr) {
            e.status = 1;
            return e;
        }
        const bool valued = row->valueName != nullptr;
        if (valued && i + 1 == args.size()) {
            e.status = 1;
            return e;
        }
        if (row->rules == SwitchRules::Request) {
            e.status = s == "-V" ? 1 : 0;  // answered, and the program ends
            // A request with a value (--ledger-list) may refuse it, and a
            // switch of its own rules before it may already have refused.
            e.inexact = e.inexact || valued;
            return e;
        }
        if (row->rules == SwitchRules::OwnRules) {
            i += valued ? 1 : 0;
            e.address[i] = valued && row->addressValue;
            // --yield: every argument after its value up to the next switch.
            while (row->moreValues && i + 1 < args.size() &&
                   (args[i + 1].empty() || args[i + 1][0] != '-')) {
                ++i;
                e.address[i] = row->addressValue;
            }
            e.inexact = true;
        } else if (s == "-P") {
            e.port = args[++i];
            e.portGiven = true;
        } else if (s == "--GANG") {
            e.gang = args[++i];
            e.hasGang = true;
        } else if (s == "--LOG") {
            e.log = args[++i];
            e.hasLog = true;
        } else if (s == "--MONITOR") {
            e.monitor = true;
        } else if (s == "--RECONNECT") {
            e.reconnect = true;
        } else if (s == "--TIMESTAMPS") {
            e.stamps = kLineStampsElapsed;
        } else if (s == "--TIMESTAMPS-ISO") {
            e.stamps = kLineStampsDateTime;
        } else if (s == "--GANG-MEMBER") {
            e.gangMember = args[++i];
            e.hasGangMember = true;
        } else if (s == "-B") {
            e.baud = Decimal(args[++i]);
        } else if (s == "-F") {
            e.file = args[++i];
            e.fileGiven = true;
        } else if (s == "-D") {
            e.debug = 1;
        } else if (s == "-L") {
            e.sendStart = 0;
        } else if (s == "-C") {
            e.mode = ModeConsole;
        } else if (s == "-R") {
            e.mode = ModeRaw;
        } else if (s == "-FP") {
            e.handshake = 1;
        } else if (s == "-W") {
            e.flash = 1;
        } else if (s == "--CHECK") {
            e.check = 1;
        } else if (s == "--CHECK-ONLY") {
            e.checkOnly = 1;
        } else {
            e.status = 1;
            return e;
        }
    }
    if (e.hasGang && (!SoundGangList(e.gang) || e.mode != ModeDownload || e.portGiven)) {
        e.status = 1;
    }
    if (e.check == 1 && e.checkOnly == 0 && e.mode != ModeDownload) {
        e.status = 1;
    }
    if (e.checkOnly == 1 && !e.fileGiven) {
        e.status = 1;
    }
    if (e.monitor && (e.mode != ModeDownload || e.hasGang)) {
        e.status = 1;
    }
    if (e.mode != ModeConsole && !e.monitor &&
        (e.reconnect || e.hasLog || e.stamps != kLineStampsNone)) {
        e.status = 1;
    }
    return e;
}

}  // namespace

extern "C" [[noreturn]] void __real_exit(int status);

// Ends of the program while the parser runs come back here; the fuzzer's own
// exit goes through.
extern "C" [[noreturn]] void __wrap_exit(int status) {
    if (!parsing) {
        __real_exit(status);
    }
    parsing = false;
    endStatus = status;
    std::longjmp(programEnd, 1);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static StdoutCapture capture;
    static const int devNull = open("/dev/null", O_WRONLY);
    std::vector<std::string> args;
    std::string current;
    for (size_t i = 0; i < size && args.size() < 12; ++i) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current.push_back(static_cast<char>(data[i]));
        }
    }
    if (!current.empty() && args.size() < 12) {
        args.push_back(current);
    }
    std::vector<std::string> texts = args;
    texts.insert(texts.begin(), "vantoir");
    std::vector<char*> argv;
    for (std::string& text : texts) {
        argv.push_back(&text[0]);
    }
    argv.push_back(nullptr);

    const Expected expected = Model(args);
    Settings settings;
    endStatus = -1;
    std::fflush(stderr);
    const int keptStderr = dup(2);
    dup2(devNull, 2);  // the messages of rejected lines
    if (setjmp(programEnd) == 0) {
        parsing = true;
        try {
            ParseCommandLine(static_cast<int>(texts.size()), argv.data(), settings);
        } catch (const ProgramError& error) {
            endStatus = error.Status();
        }
        parsing = false;
    }
    std::fflush(stderr);
    dup2(keptStderr, 2);
    close(keptStderr);
    const std::string printed = capture.Take();
    FUZZ_CHECK(endStatus == expected.status || (expected.inexact && endStatus == 1),
               "status " << endStatus << ", expected " << expected.status);
    if (endStatus != -1) {
        return 0;
    }
    std::string echo = "Parsed command line:";
    for (size_t i = 0; i < args.size(); ++i) {
        echo += " " + (expected.address[i] ? WithPasswordMasked(args[i]) : args[i]);
    }
    FUZZ_CHECK(printed == (expected.hasGangMember ? "" : echo + "\n"), "echo line");
    FUZZ_CHECK(settings.portName == expected.port, "port");
    FUZZ_CHECK(settings.dataFile == expected.file, "file");
    FUZZ_CHECK(settings.baudRate == expected.baud, "baud " << settings.baudRate);
    FUZZ_CHECK(settings.sendStart == expected.sendStart && settings.debug == expected.debug &&
                   settings.writeFlash == expected.flash &&
                   settings.consoleHandshake == expected.handshake &&
                   settings.mode == expected.mode && settings.checkImage == expected.check &&
                   settings.checkOnly == expected.checkOnly &&
                   (settings.gangMember != nullptr) == expected.hasGangMember &&
                   (!expected.hasGangMember || settings.gangMember == expected.gangMember),
               "flags");
    FUZZ_CHECK((settings.gang != nullptr) == expected.hasGang &&
                   (!expected.hasGang || settings.gang == expected.gang),
               "gang");
    FUZZ_CHECK(settings.monitor == expected.monitor && settings.reconnect == expected.reconnect &&
                   settings.lineStamps == expected.stamps &&
                   (settings.logFile != nullptr) == expected.hasLog &&
                   (!expected.hasLog || settings.logFile == expected.log),
               "console switches");
    return 0;
}
