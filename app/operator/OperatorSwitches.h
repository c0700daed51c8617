#pragma once
// The operator's switches (--label, --ask-label, --label-from, --label-baud,
// --label-pattern, --operator-screen, and the gang's own --gang-label for
// each of its runs), as the table kOperatorSwitches (app/cli/SwitchTables.h).
// A malformed pattern is refused where it is given; the check refuses them
// outside download mode, --label beside --repeat, --boards, --gang,
// --ask-label or --label-from, the asking switches with --gang beside
// --repeat or --boards, and a --label that the pattern does not match.

#include "app/Settings.h"

// Each board's label is asked for (--ask-label, --label-from).
bool LabelsAsked(const Settings& settings);
// The board has a label, given or asked for.
bool LabelsInUse(const Settings& settings);
