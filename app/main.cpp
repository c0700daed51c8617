#include "app/CommandLine.h"
#include "app/Gang.h"
#include "app/ProgramFlow.h"
#include "app/Settings.h"

int main(int argumentCount, char** arguments) {
    Settings settings;
    ParseCommandLine(argumentCount, arguments, settings);
    if (settings.gang != nullptr) {
        return RunGang(argumentCount, arguments, settings);
    }
    return RunProgram(settings);
}
