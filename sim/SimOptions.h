#pragma once
// The command line of kelvor-sim: every option sets a field of BoardConfig
// (or the link path), see SimUsage for the list.
//
// Texts given on the command line may hold the escapes \r \n \t \\ and \xHH
// (two hex digits), so that control bytes and line ends can be given.

#include <string>
#include <vector>

#include "sim/AcmGadget.h"
#include "sim/BoardConfig.h"

namespace sim {

struct SimOptions {
    BoardConfig config;
    std::string linkPath;   // --link: a symbolic link to the port
    bool help = false;      // --help: print SimUsage and end
    bool quiet = false;     // --quiet: no summary at the end
    bool startOff = false;  // --off: the board starts switched off
    // --usb-acm and the options that go with it: the USB CDC-ACM function
    // instead of the pseudo-terminal (controller empty: the pseudo-terminal).
    AcmGadgetConfig gadget;
    std::string error;  // set when the arguments are not usable
};

// Parses the arguments after the program name.
SimOptions ParseSimOptions(const std::vector<std::string>& args);

// The --help text.
std::string SimUsage();

// text with its escapes replaced by the bytes they stand for; sets ok to
// false (and returns what it could) for a malformed escape.
std::string UnescapeText(const std::string& text, bool& ok);

// Exit statuses of kelvor-sim.
constexpr int kExitDownloadComplete = 0;
constexpr int kExitDownloadIncomplete = 1;
constexpr int kExitUsage = 2;

}  // namespace sim
