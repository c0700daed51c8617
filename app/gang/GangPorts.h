#pragma once
// The port list of a gang (--gang PORT,PORT,...) and the short names its
// output shows for the ports.

#include <string>
#include <vector>

// Splits the list at its commas. False, with the reason for the operator in
// problem, when the list is empty, an entry is empty or a port is named
// twice (compared as given).
bool SplitGangPorts(const char* list, std::vector<std::string>& ports, std::string& problem);

// The name each port's lines are marked with: the last component of its
// path ("/dev/ttyUSB1" gives "ttyUSB1", "\\.\COM12" gives "COM12"); a number
// alone keeps its folder ("/dev/pts/3" gives "pts/3"). When two ports would
// get the same name, every port is shown as given.
std::vector<std::string> GangPortNames(const std::vector<std::string>& ports);

// The run id of a gang's run for port: the gang's own with "@PORT" added.
std::string GangRunId(const std::string& runId, const std::string& port);
