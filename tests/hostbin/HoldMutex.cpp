// w32_hold_mutex NAME: a stand-in for a running game. Creates the named mutex
// NAME through CreateMutexA, prints "ready" and holds it until its standard
// input closes or it is killed. Exit code 0, or 2 when the mutex already
// existed (it then holds it too, like a second instance would) and 1 on error.
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: w32_hold_mutex NAME\n");
        return 1;
    }
    const HANDLE mutex = CreateMutexA(nullptr, FALSE, argv[1]);
    if (mutex == nullptr) {
        std::fprintf(stderr, "w32_hold_mutex: CreateMutexA failed with error %u\n", GetLastError());
        return 1;
    }
    const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    std::printf(existed ? "ready (already existed)\n" : "ready\n");
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    return existed ? 2 : 0;
}
