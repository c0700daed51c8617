// The switches of every run: the port, the rate, the data file, the mode and
// the protocol's options, the requests, and --timeout.

#include "app/CommandLine.h"
#include "app/cli/SwitchTables.h"

namespace {

constexpr uint32_t kMaxTimeoutSeconds = 86400;

const SwitchRow kRows[] = {
    {"-v", nullptr, "prints a short banner (exit status 1)",
     [](const SwitchUse&, Settings&) { PrintVersion(); }, ForGangRun::PassOn, SwitchRules::Request},
    {"-P", "<port>", nullptr, [](const SwitchUse& use, Settings& s) { s.portName = use.value; }},
    {"-B", "<baudrate>", nullptr,
     [](const SwitchUse& use, Settings& s) { s.baudRate = ConvertDecimal(use.value); }},
    {"-F", "<datafile>", nullptr,
     [](const SwitchUse& use, Settings& s) { s.dataFile = use.value; }},
    {"-D", nullptr, nullptr, [](const SwitchUse&, Settings& s) { s.debug = 1; }},
    {"-L", nullptr, nullptr, [](const SwitchUse&, Settings& s) { s.sendStart = 0; }},
    {"-C", nullptr, nullptr, [](const SwitchUse&, Settings& s) { s.mode = ModeConsole; }},
    {"-R", nullptr, nullptr, [](const SwitchUse&, Settings& s) { s.mode = ModeRaw; }},
    {"-fp", nullptr, "console mode: first establish communication with the boot loader",
     [](const SwitchUse&, Settings& s) { s.consoleHandshake = 1; }},
    {"-W", nullptr, nullptr, [](const SwitchUse&, Settings& s) { s.writeFlash = 1; }},
    {"--help", nullptr, "", [](const SwitchUse& use, Settings&) { PrintHelp(use.programName); },
     ForGangRun::PassOn, SwitchRules::Request},
    {"-h", nullptr, "", [](const SwitchUse& use, Settings&) { PrintHelp(use.programName); },
     ForGangRun::PassOn, SwitchRules::Request},
    {"-?", nullptr, "prints this text",
     [](const SwitchUse& use, Settings&) { PrintHelp(use.programName); }, ForGangRun::PassOn,
     SwitchRules::Request},
    {"--version", nullptr, "prints the version line",
     [](const SwitchUse&, Settings&) { PrintVersionLine(); }, ForGangRun::PassOn,
     SwitchRules::Request},
    {"--timeout", "<seconds>", "ends each unanswered wait, and the flash write, after 1 to 86400 s",
     [](const SwitchUse& use, Settings& s) {
         s.timeoutSeconds = WholeNumberValue(use, 1, kMaxTimeoutSeconds);
     },
     ForGangRun::PassOn, SwitchRules::OwnRules},
};

}  // namespace

const SwitchTable kCoreSwitches = MakeSwitchTable(kRows);
