#pragma once
// A switch of the command line is one row: the text typed, the value it
// takes, its line in --help, how it is applied to the settings, and what a
// gang passes on of it to its runs. Each capability keeps its rows in a
// table of its own (SwitchTable), in its own folder, with one check of its
// switches together, made once every argument has been applied.
//
// app/CommandLine.cpp matches each argument whole, ignoring the case of A
// to Z, against the rows of the tables in the order SwitchTables() lists
// them (the first match decides), applies it, and runs every table's check
// in that order before the echo line. The --help text and the command-line
// fuzz model are made from these rows.

#include <cstddef>
#include <vector>

#include "app/Settings.h"

// What was typed of the switches given, in order; for a table's check.
class GivenSwitches {
  public:
    struct Use {
        const char* text;   // the row's text ("--stamp")
        const char* typed;  // as typed ("--STAMP")
    };

    void Add(const char* text, const char* typed) { uses.push_back({text, typed}); }

    // The switch as typed, its first (or last) use; nullptr when not given.
    const char* First(const char* text) const;
    const char* Last(const char* text) const;
    // The first use of any of texts, as typed; nullptr when none was given.
    const char* FirstOf(std::initializer_list<const char*> texts) const;
    // The last use of any of texts, as typed; nullptr when none was given.
    const char* LastOf(std::initializer_list<const char*> texts) const;

  private:
    std::vector<Use> uses;
};

// What a gang makes of a switch for each of its runs (app/gang/Gang.h).
enum class ForGangRun {
    PassOn,   // passed on as given
    Drop,     // the gang's own business (its runs do without it)
    PerPort,  // passed on with "@PORT" added to its value
    ByPort,   // stands for the ports: the first use becomes "-P PORT"
};

// How the fuzz model of the command line knows the switch.
enum class SwitchRules {
    Modelled,  // the model knows its rules exactly
    OwnRules,  // its value and combinations follow rules of its own, which
               // the model leaves out (the parse may refuse where it accepts)
    Request,   // answers a request and ends the program
};

// Where a switch is used: for apply, and for the requests' answers.
struct SwitchUse {
    const char* typed;        // as typed
    const char* value;        // its value; nullptr for a switch that takes none
    const char* programName;  // argv[0], for the usage
};

struct SwitchRow {
    const char* text;
    // The value's name in --help ("<seconds>"); nullptr: it takes no value.
    const char* valueName;
    // Its line in --help after the switch and its value; nullptr: not for
    // the user (a gang's own switches), not listed.
    const char* help;
    // Applies the switch to the settings, checking its value on its own
    // (FatalError, status 1, on a bad one); a request answers and ends the
    // program here.
    void (*apply)(const SwitchUse& use, Settings& settings);
    ForGangRun forGangRun = ForGangRun::PassOn;
    SwitchRules rules = SwitchRules::Modelled;
    // After its value it takes every further argument up to the next that
    // begins with '-', each applied as a value of its own (--yield's
    // sources).
    bool moreValues = false;
    // Its values may be a database's address (a URL, or libpq's key=value
    // pairs): the echo line shows them with any password replaced by ***
    // (text/DatabaseAddress.h).
    bool addressValue = false;
};

// How many arguments from arguments[at] (a switch of that row, or an unknown
// argument: nullptr) make one use: the switch and its values.
int ArgumentsOfUse(const SwitchRow* row, int at, int argumentCount, char** arguments);

struct SwitchTable {
    const SwitchRow* rows;
    size_t count;
    // Checks the table's switches together, once every argument has been
    // applied (FatalError, status 1); nullptr: nothing to check.
    void (*check)(Settings& settings, const GivenSwitches& given);
};

template <size_t N>
constexpr SwitchTable MakeSwitchTable(const SwitchRow (&rows)[N],
                                      void (*check)(Settings&, const GivenSwitches&) = nullptr) {
    return {rows, N, check};
}

// Every table of the program, in the order of matching, of the checks and of
// --help.
const std::vector<const SwitchTable*>& SwitchTables();

// Matching a switch: whole, ignoring the case of A to Z and nothing else;
// nullptr when no row has the text.
const SwitchRow* FindSwitch(const char* argument);

// A whole number from low to high in plain decimal digits, nothing else;
// anything else ends the run with "Invalid value for switch %s: %s\n".
uint32_t WholeNumberValue(const SwitchUse& use, uint32_t low, uint32_t high);
// The value, unless it is nothing but blanks (a command that would run
// nothing, a label that names nothing): then the run ends as above.
const char* NonBlankValue(const SwitchUse& use);
