// On hosts other than Windows the C runtime starts at main: hand over to
// WinMain with what Windows would pass (the command line after the program's
// own name, and the show state of a double click).
#ifndef _WIN32
#include "platform/Win32.h"

int main() {
    const char* commandLine = GetCommandLineA();
    // Skip the program's own name, quoted or not, and the blanks after it.
    const char* rest = commandLine;
    if (*rest == '"') {
        ++rest;
        while (*rest && *rest != '"') ++rest;
        if (*rest) ++rest;
    } else {
        while (*rest && *rest != ' ' && *rest != '\t') ++rest;
    }
    while (*rest == ' ' || *rest == '\t') ++rest;
    return WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<LPSTR>(rest), SW_SHOWNORMAL);
}
#endif
