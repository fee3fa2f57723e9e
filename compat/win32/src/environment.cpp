// The process environment as Win32 sees it: the host's own variables, their
// names compared as Windows compares them (ASCII letters folded).
#include <windows.h>

#include <cstring>
#include <string>

extern char** environ;

namespace {

char Fold(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// The value of the variable named by [name, name + length), or null.
const char* FindVariable(const char* name, size_t length)
{
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const char* text = *entry;
        size_t i = 0;
        while (i < length && text[i] != '\0' && Fold(text[i]) == Fold(name[i]))
            ++i;
        if (i == length && text[i] == '=')
            return text + length + 1;
    }
    return nullptr;
}

} // namespace

DWORD WINAPI ExpandEnvironmentStringsA(LPCSTR source, LPSTR destination, DWORD size)
{
    if (source == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string result;
    for (const char* p = source; *p != '\0';) {
        const char* close = *p == '%' ? std::strchr(p + 1, '%') : nullptr;
        const char* value = close != nullptr && close > p + 1 ? FindVariable(p + 1, size_t(close - p - 1)) : nullptr;
        if (value == nullptr) {
            // Not a known name: the '%' stays, and the next one may open a name.
            result += *p++;
            continue;
        }
        result += value;
        p = close + 1;
    }
    const DWORD needed = static_cast<DWORD>(result.size() + 1);
    if (destination != nullptr && needed <= size)
        std::memcpy(destination, result.c_str(), needed);
    return needed;
}
