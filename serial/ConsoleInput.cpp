#include "serial/ConsoleInput.h"

bool ConsoleInput::TakeCharacter(char& key) {
    if (nextCharacter == characters.size()) {
        return false;
    }
    key = characters[nextCharacter++];
    if (nextCharacter == characters.size()) {
        characters.clear();
        nextCharacter = 0;
    }
    return true;
}
