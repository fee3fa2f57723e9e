// The registry of qptool's subcommands.
#include "Command.h"

#include <algorithm>
#include <cstring>

namespace {

std::vector<ToolCommand>& Commands()
{
    static std::vector<ToolCommand> commands;
    return commands;
}

} // namespace

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
