// w32_winmain_echo ARGS...: a WinMain program that prints what the entry
// point handed it (the command line, the show state, whether the instance is
// the module handle) and returns 3.
#include <windows.h>

#include <cstdio>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand)
{
    std::printf("cmdline=[%s]\nshow=%d\ninstance=%s\nprevious=%s\n", commandLine, showCommand,
                instance == GetModuleHandleA(nullptr) ? "module" : "other", previous == nullptr ? "null" : "set");
    std::printf("full=[%s]\n", GetCommandLineA());
    return 3;
}
