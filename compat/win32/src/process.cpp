// The process as Win32 sees it. The command line is the program's own
// absolute host path in double quotes, followed by its arguments quoted the
// Windows way (or W32_COMMAND_LINE, as a parent chose it); host paths
// starting with '/' count as absolute in this layer.
#include "HostProcess.h"
#include "HostTranscript.h"

#include <windows.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <unistd.h>
#include <vector>

namespace {

// Its address is the module handle: unique, and never a valid host pointer to
// anything the program could free.
const char g_ModuleAnchor = 0;

std::string ReadOwnPath()
{
    std::vector<char> buffer(PATH_MAX + 1);
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n <= 0)
        w32host::HostFatal("cannot read the program's own path from /proc/self/exe");
    return std::string(buffer.data(), static_cast<size_t>(n));
}

// One argument quoted so that the Windows command-line rules give it back.
std::string QuoteArgument(const std::string& argument)
{
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos)
        return argument;
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + "\"";
}

std::string BuildCommandLine()
{
    // On Windows the parent chooses the whole command line (CreateProcess);
    // here a parent that wants another than the usual one says so.
    if (const char* chosen = std::getenv("W32_COMMAND_LINE"); chosen != nullptr && *chosen != '\0')
        return chosen;
    std::string line = "\"" + w32host::OwnExecutablePath() + "\"";
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t start = all.find('\0'); // skip argv[0]
    while (start != std::string::npos && start + 1 < all.size()) {
        const size_t end = all.find('\0', start + 1);
        line += " " + QuoteArgument(all.substr(start + 1, end - start - 1));
        start = end;
    }
    return line;
}

} // namespace

namespace w32host {

HMODULE ModuleHandle()
{
    return reinterpret_cast<HMODULE>(const_cast<char*>(&g_ModuleAnchor));
}

const std::string& OwnExecutablePath()
{
    static const std::string path = ReadOwnPath();
    return path;
}

} // namespace w32host

LPSTR WINAPI GetCommandLineA(void)
{
    static std::vector<char> line = [] {
        const std::string text = BuildCommandLine();
        return std::vector<char>(text.c_str(), text.c_str() + text.size() + 1);
    }();
    return line.data();
}

HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName)
{
    if (moduleName == nullptr)
        return w32host::ModuleHandle();
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size)
{
    if (module != nullptr && module != w32host::ModuleHandle()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    if (fileName == nullptr || size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    const std::string& path = w32host::OwnExecutablePath();
    if (path.size() < size) {
        std::memcpy(fileName, path.c_str(), path.size() + 1);
        return static_cast<DWORD>(path.size());
    }
    std::memcpy(fileName, path.data(), size - 1);
    fileName[size - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
}

void WINAPI ExitProcess(UINT exitCode)
{
    std::fflush(nullptr);
    _exit(static_cast<int>(exitCode));
}
