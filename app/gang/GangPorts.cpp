#include "app/gang/GangPorts.h"

#include <algorithm>
#include <set>

#include "app/gang/GangMessages.h"
#include "errors/FormatText.h"

namespace {

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

bool AllDigits(const std::string& text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string ShortName(const std::string& port) {
    const auto separator = std::find_if(port.rbegin(), port.rend(), IsSeparator);
    if (separator == port.rend()) {
        return port;
    }
    std::string name(separator.base(), port.end());
    if (AllDigits(name)) {
        const auto folder = std::find_if(separator + 1, port.rend(), IsSeparator);
        name = std::string(folder.base(), port.end());
    }
    return name.empty() ? port : name;
}

}  // namespace

bool SplitGangPorts(const char* list, std::vector<std::string>& ports, std::string& problem) {
    const std::string text = list;
    ports.clear();
    if (text.empty()) {
        problem = messages::kGangEmptyList;
        return false;
    }
    std::set<std::string> seen;
    size_t start = 0;
    for (;;) {
        const size_t comma = std::min(text.find(',', start), text.size());
        const std::string port = text.substr(start, comma - start);
        if (port.empty()) {
            problem = messages::kGangEmptyEntry;
            return false;
        }
        if (!seen.insert(port).second) {
            problem = FormatText(messages::kGangPortTwiceFormat, port.c_str());
            return false;
        }
        ports.push_back(port);
        if (comma == text.size()) {
            return true;
        }
        start = comma + 1;
    }
}

std::vector<std::string> GangPortNames(const std::vector<std::string>& ports) {
    std::vector<std::string> names;
    std::set<std::string> unique;
    for (const std::string& port : ports) {
        names.push_back(ShortName(port));
        unique.insert(names.back());
    }
    return unique.size() == names.size() ? names : ports;
}

std::string GangRunId(const std::string& runId, const std::string& port) {
    return runId + "@" + port;
}
