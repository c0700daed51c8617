#pragma once
// The switch tables of the program (app/cli/SwitchRow.h), each defined in
// its capability's folder.

#include "app/cli/SwitchRow.h"

extern const SwitchTable kCoreSwitches;      // app/cli/CoreSwitches.cpp
extern const SwitchTable kPortSwitches;      // app/ports/PortSwitches.cpp
extern const SwitchTable kConsoleSwitches;   // app/console/ConsoleSwitches.cpp
extern const SwitchTable kGangSwitches;      // app/gang/GangSwitches.cpp
extern const SwitchTable kFixtureSwitches;   // app/fixture/FixtureSwitches.cpp
extern const SwitchTable kOperatorSwitches;  // app/operator/OperatorSwitches.cpp
extern const SwitchTable kCheckSwitches;     // app/check/CheckSwitches.cpp
extern const SwitchTable kBoardSwitches;     // app/boards/BoardSwitches.cpp
extern const SwitchTable kStampSwitches;     // app/stamp/StampSwitches.cpp
extern const SwitchTable kReportSwitches;    // app/report/ReportSwitches.cpp
extern const SwitchTable kFactorySwitches;   // app/factory/FactorySwitches.cpp
extern const SwitchTable kEventSwitches;     // app/events/EventSwitches.cpp
extern const SwitchTable kYieldSwitches;     // app/yield/YieldSwitches.cpp
