// --check, --check-only, --image-sha256, the unit the image's addresses
// count, and the digest a gang gives its runs.

#include <string>

#include "app/CommandLineMessages.h"
#include "app/check/CheckMessages.h"
#include "app/cli/SwitchTables.h"
#include "errors/FatalError.h"

namespace {

constexpr const char* kCheckOnlyNeedsFile = "Switch --check-only needs -F <datafile>\n";

// --check-only checks the file whatever the mode; --check needs downloads,
// since console mode never reads the data file and raw mode copies any file.
void CheckCheckSwitches(Settings& settings, const GivenSwitches& given) {
    if (settings.checkOnly != 0) {
        if (given.Last("-F") == nullptr) {
            FatalError("%s", kCheckOnlyNeedsFile);
        }
        return;
    }
    if (settings.checkImage != 0 && settings.mode != ModeDownload) {
        FatalError("%s", messages::kCheckNeedsDownload);
    }
    if (!settings.imageSha256.empty() && settings.mode != ModeDownload) {
        FatalError("%s", messages::kImageSha256NeedsDownload);
    }
}

// 64 hex digits, either case; kept in lower case, as digests are shown.
std::string CheckedDigest(const SwitchUse& use) {
    std::string digest = use.value;
    for (char& c : digest) {
        c = static_cast<char>(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c);
    }
    if (digest.size() != 64 || digest.find_first_not_of("0123456789abcdef") != std::string::npos) {
        FatalError(messages::kInvalidValueFormat, use.typed, use.value);
    }
    return digest;
}

// --word-size BITS: 8, 16 or 32.
void ApplyWordSize(const SwitchUse& use, Settings& settings) {
    const uint32_t bits = WholeNumberValue(use, 8, 32);
    if (bits != 8 && bits != 16 && bits != 32) {
        FatalError(messages::kInvalidValueFormat, use.typed, use.value);
    }
    settings.wordBytes = bits / 8;
}

const SwitchRow kRows[] = {
    // The gang checks the image once, before any run starts.
    {"--check", nullptr, "checks the datafile first; a refused image is never sent",
     [](const SwitchUse&, Settings& s) { s.checkImage = 1; }, ForGangRun::Drop},
    {"--check-only", nullptr, "checks the datafile, prints the result, opens no port",
     [](const SwitchUse&, Settings& s) { s.checkOnly = 1; }},
    {"--word-size", "<bits>", "the image's addresses count words of 8 (default), 16 or 32 bits",
     ApplyWordSize, ForGangRun::PassOn, SwitchRules::OwnRules},
    {"--image-sha256", "<hex>", "sends only data whose SHA-256 is this one (64 hex digits)",
     [](const SwitchUse& use, Settings& s) { s.imageSha256 = CheckedDigest(use); },
     ForGangRun::PassOn, SwitchRules::OwnRules},
    // Not for the user: given by a gang to each of its runs.
    {"--checked-image", "<sha256>", nullptr,
     [](const SwitchUse& use, Settings& s) { s.checkedImage = use.value; }, ForGangRun::PassOn,
     SwitchRules::OwnRules},
};

}  // namespace

const SwitchTable kCheckSwitches = MakeSwitchTable(kRows, CheckCheckSwitches);
