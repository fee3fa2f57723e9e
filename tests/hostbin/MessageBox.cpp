// w32_message_box TYPE CAPTION TEXT [TYPE CAPTION TEXT ...]: shows each box
// through MessageBoxA in turn and prints the button id of each on its own
// line, for tests of the answer script in a process of its own.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc < 4 || (argc - 1) % 3 != 0) {
        std::fprintf(stderr, "usage: w32_message_box TYPE CAPTION TEXT...\n");
        return 1;
    }
    for (int i = 1; i + 2 < argc; i += 3) {
        const UINT type = static_cast<UINT>(std::strtoul(argv[i], nullptr, 0));
        std::printf("%d\n", MessageBoxA(nullptr, argv[i + 2], argv[i + 1], type));
        std::fflush(stdout);
    }
    return 0;
}
