#include "app/CommandLine.h"
#include "app/ProgramFlow.h"
#include "app/Settings.h"

int main(int argumentCount, char** arguments) {
    Settings settings;
    ParseCommandLine(argumentCount, arguments, settings);
    return RunProgram(settings);
}
