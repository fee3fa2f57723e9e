// qptool: builds and inspects patches. "qptool <command> [arguments]"; with
// no command, or "help", it lists the commands.
#include "Command.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

namespace {

void PrintUsage(std::FILE* out)
{
    std::fprintf(out, "usage: qptool <command> [arguments]\n\ncommands:\n");
    for (const ToolCommand& command : RegisteredCommands())
        std::fprintf(out, "  %-8s %s\n           qptool %s %s\n", command.name, command.summary, command.name,
                     command.usage);
}

} // namespace

int main(int argc, char** argv)
{
    WriteWholeLines();
    // "qptool help <command>" is "qptool <command> --help".
    if (argc == 3 && std::strcmp(argv[1], "help") == 0) {
        argv[1] = argv[2];
        argv[2] = const_cast<char*>("--help");
    }
    if (argc < 2 || std::strcmp(argv[1], "help") == 0 || std::strcmp(argv[1], "--help") == 0) {
        PrintUsage(argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    for (const ToolCommand& command : RegisteredCommands()) {
        if (std::strcmp(command.name, argv[1]) != 0)
            continue;
        try {
            const std::vector<std::string> args(argv + 2, argv + argc);
            if (CheckArguments(command, args) == ArgumentCheck::kHelp) {
                std::printf("usage: qptool %s %s\n%s\n", command.name, command.usage, command.summary);
                return 0;
            }
            return command.run(args);
        } catch (const ToolError& error) {
            std::fprintf(stderr, "qptool %s: %s\n", command.name, error.what());
            return 1;
        } catch (const std::bad_alloc&) {
            std::fprintf(stderr, "qptool %s: not enough memory\n", command.name);
            return 1;
        } catch (const std::exception& error) {
            std::fprintf(stderr, "qptool %s: unexpected failure: %s\n", command.name, error.what());
            return 1;
        }
    }
    std::fprintf(stderr, "qptool: unknown command \"%s\"\n\n", argv[1]);
    PrintUsage(stderr);
    return 2;
}
