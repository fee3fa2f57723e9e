// The registry of qptool's subcommands.
#include "Command.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

std::vector<ToolCommand>& Commands()
{
    static std::vector<ToolCommand> commands;
    return commands;
}

} // namespace

void WriteWholeLines()
{
#ifdef _WIN32
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::setvbuf(stderr, nullptr, _IONBF, 0);
#else
    // Longer than any line the tool writes.
    static char out[1 << 16], err[1 << 16];
    std::setvbuf(stdout, out, _IOLBF, sizeof out);
    std::setvbuf(stderr, err, _IOLBF, sizeof err);
#endif
}

CommandRegistration::CommandRegistration(const ToolCommand& command)
{
    Commands().push_back(command);
}

std::vector<ToolCommand> RegisteredCommands()
{
    std::vector<ToolCommand> sorted = Commands();
    std::sort(sorted.begin(), sorted.end(),
              [](const ToolCommand& a, const ToolCommand& b) { return std::strcmp(a.name, b.name) < 0; });
    return sorted;
}

ArgumentCheck CheckArguments(const ToolCommand& command, const std::vector<std::string>& args)
{
    for (const std::string& arg : args)
        if (arg == "--help" || arg == "-h")
            return ArgumentCheck::kHelp;
    const std::string usage = std::string("usage: qptool ") + command.name + " " + command.usage;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i].size() < 2 || args[i][0] != '-')
            continue;
        const auto known = [&](const std::string& option) { return option == args[i] || option == args[i] + "="; };
        const auto option = std::find_if(command.options.begin(), command.options.end(), known);
        if (option == command.options.end())
            throw ToolError("unknown option \"" + args[i] + "\"; " + usage);
        if (option->back() == '=' && (++i >= args.size() || args[i].empty()))
            throw ToolError(args[i - 1] + " needs a value; " + usage);
    }
    return ArgumentCheck::kRun;
}
