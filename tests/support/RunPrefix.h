// The command that starts a program of this build. A 32-bit build on a host
// that runs no 32-bit programs starts them under user-mode emulation, so
// every test starts the programs it built (the patcher, qptool, the host
// stand-ins) through these helpers: ChildProcess, or ShellCommandFor in a
// shell command line. System programs (/bin/sh, lnkinfo) are started as
// they are.
#pragma once

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#ifndef QP_BUILD_RUN_PREFIX
#define QP_BUILD_RUN_PREFIX ""
#endif

// QP_RUN_PREFIX (words separated by spaces, e.g. "qemu-i386") when it is
// set, else the emulator the build was configured with (none natively).
inline std::vector<std::string> RunPrefix()
{
    const char* set = std::getenv("QP_RUN_PREFIX");
    std::istringstream words(set != nullptr ? set : QP_BUILD_RUN_PREFIX);
    std::vector<std::string> prefix;
    for (std::string word; words >> word;)
        prefix.push_back(word);
    return prefix;
}

// program and args behind the prefix: the argument vector to execute.
inline std::vector<std::string> PrefixedCommand(const std::string& program, const std::vector<std::string>& args = {})
{
    std::vector<std::string> command = RunPrefix();
    command.push_back(program);
    command.insert(command.end(), args.begin(), args.end());
    return command;
}

// One word for /bin/sh, in single quotes.
inline std::string ShellQuoted(const std::string& word)
{
    std::string quoted = "'";
    for (char c : word)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// The start of a shell command line that runs program: the prefix and the
// program, each quoted; the caller appends the arguments.
inline std::string ShellCommandFor(const std::string& program)
{
    std::string line;
    for (const std::string& word : PrefixedCommand(program))
        line += (line.empty() ? "" : " ") + ShellQuoted(word);
    return line;
}
