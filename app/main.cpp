#include "app/ProgramFlow.h"

int main(int argumentCount, char** arguments) {
    return EndProgram(RunProgram(argumentCount, arguments));
}
