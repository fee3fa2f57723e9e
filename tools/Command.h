// The subcommands of qptool. Each lives in a file of its own and registers
// itself with a static CommandRegistration; Main.cpp dispatches by name.
// A command reports a refusal by throwing ToolError: Main prints it and
// exits with code 1.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

struct ToolCommand {
    const char* name;
    const char* usage;   // the arguments after the command name
    const char* summary; // one line for the command list
    int (*run)(const std::vector<std::string>& args);
    // The options the command takes: "--out=" takes a value, "--quiet" none.
    // Any other argument that begins with '-' is refused before the command
    // runs, and "--help" (or "-h") anywhere prints the usage instead.
    std::vector<std::string> options = {};
};

class CommandRegistration {
public:
    explicit CommandRegistration(const ToolCommand& command);
};

// Every registered command, in name order.
std::vector<ToolCommand> RegisteredCommands();

// Makes every line reach standard output and error whole, in the order the
// tool writes them, also when both go to one file: each stream writes a line
// at once when it ends (Windows' C library, which buffers such streams fully,
// writes each call at once instead). Main calls it first.
void WriteWholeLines();

enum class ArgumentCheck { kRun, kHelp };

// Checks args against the command's options: kHelp when they ask for help;
// ToolError naming an unknown option or an option without its value.
ArgumentCheck CheckArguments(const ToolCommand& command, const std::vector<std::string>& args);

class ToolError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
