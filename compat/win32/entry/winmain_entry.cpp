// The entry point of a Win32 GUI program on this host: main calls the
// program's WinMain as Windows would (the module's instance handle, no
// previous instance, the command line after the program name, SW_SHOWNORMAL)
// and exits with its result.
#include <windows.h>

#include <cstdlib>

namespace {

// The command line behind the program name, which GetCommandLineA puts first
// in double quotes.
LPSTR ArgumentsOf(LPSTR line)
{
    if (*line == '"') {
        ++line;
        while (*line != '\0' && *line != '"')
            ++line;
        if (*line == '"')
            ++line;
    } else {
        while (*line != '\0' && *line != ' ' && *line != '\t')
            ++line;
    }
    while (*line == ' ' || *line == '\t')
        ++line;
    return line;
}

} // namespace

int main()
{
    const int result = WinMain(GetModuleHandleA(nullptr), nullptr, ArgumentsOf(GetCommandLineA()), SW_SHOWNORMAL);
    std::exit(result);
}
