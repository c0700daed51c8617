// --gang, and the gang's own switch for each of its runs.

#include <string>
#include <vector>

#include "app/cli/SwitchTables.h"
#include "app/gang/GangMessages.h"
#include "app/gang/GangPorts.h"
#include "errors/FatalError.h"
#include "errors/FormatText.h"
#include "serial/PortPlatform.h"

namespace {

constexpr const char* kGangSameDeviceFormat = "The ports %s and %s are the same device (%s).";

// Two names of one device (COM3 and com3, a port and a link to it) would
// run twice on one board.
bool OneDeviceEach(const std::vector<std::string>& ports, std::string& problem) {
    PortPlatform& platform = SystemPortPlatform();
    std::vector<std::string> devices;
    for (const std::string& port : ports) {
        devices.push_back(platform.DeviceIdentity(port.c_str()));
        for (size_t i = 0; i + 1 < devices.size(); ++i) {
            if (devices[i] == devices.back()) {
                problem = FormatText(kGangSameDeviceFormat, ports[i].c_str(), port.c_str(),
                                     devices.back().c_str());
                return false;
            }
        }
    }
    return true;
}

// A sound list of distinct devices, download mode, and no -P beside it.
void CheckGangSwitches(Settings& settings, const GivenSwitches& given) {
    if (settings.gang == nullptr) {
        return;
    }
    const char* gang = given.Last("--gang");
    std::vector<std::string>& ports = settings.gangPorts;
    std::string problem;
    if (!SplitGangPorts(settings.gang, ports, problem) || !OneDeviceEach(ports, problem)) {
        FatalError(messages::kGangInvalidListFormat, gang, settings.gang, problem.c_str());
    }
    if (settings.mode != ModeDownload) {
        FatalError(messages::kGangDownloadOnlyFormat, gang, given.LastOf({"-C", "-R"}));
    }
    if (const char* port = given.Last("-P")) {
        FatalError(messages::kGangNamesThePortsFormat, gang, port);
    }
}

const SwitchRow kRows[] = {
    {"--gang", "<port>,<port>,...", "downloads to every port of the list at once",
     [](const SwitchUse& use, Settings& s) { s.gang = use.value; }, ForGangRun::ByPort},
    // Not for the user: given by a gang to each of its runs.
    {"--gang-member", "<channel>", nullptr,
     [](const SwitchUse& use, Settings& s) { s.gangMember = use.value; }},
};

}  // namespace

const SwitchTable kGangSwitches = MakeSwitchTable(kRows, CheckGangSwitches);
