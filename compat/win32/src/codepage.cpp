// Windows-1252 and the ANSI/wide conversions over it.
#include "HostCodePage.h"

#include <windows.h>

namespace w32host {

namespace {

// Code points of the bytes 0x80..0x9F; all other bytes are their own code point.
const char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

} // namespace

char32_t AnsiToUnicode(unsigned char byte)
{
    if (byte >= 0x80 && byte < 0xA0)
        return kHighControls[byte - 0x80];
    return byte;
}

bool UnicodeToAnsi(char32_t codePoint, unsigned char* byte)
{
    if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF)) {
        *byte = static_cast<unsigned char>(codePoint);
        return true;
    }
    for (unsigned i = 0; i < 32; ++i) {
        if (kHighControls[i] == codePoint) {
            *byte = static_cast<unsigned char>(0x80 + i);
            return true;
        }
    }
    return false;
}

} // namespace w32host

namespace {

bool IsAnsiCodePage(UINT codePage)
{
    return codePage == CP_ACP || codePage == CP_THREAD_ACP || codePage == 1252;
}

// Length in units of a NUL-terminated string, counting the terminator.
template <typename Char> int TerminatedLength(const Char* text)
{
    int length = 0;
    while (text[length] != 0)
        ++length;
    return length + 1;
}

} // namespace

int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR source, int sourceLength, LPWSTR dest,
                               int destLength)
{
    if (!IsAnsiCodePage(codePage)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if ((flags & ~static_cast<DWORD>(MB_PRECOMPOSED | MB_ERR_INVALID_CHARS)) != 0) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    if (source == nullptr || sourceLength == 0 || sourceLength < -1 || destLength < 0 ||
        (dest == nullptr && destLength != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const int length = sourceLength == -1 ? TerminatedLength(source) : sourceLength;
    if (destLength == 0)
        return length;
    if (destLength < length) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    for (int i = 0; i < length; ++i)
        dest[i] = static_cast<WCHAR>(w32host::AnsiToUnicode(static_cast<unsigned char>(source[i])));
    return length;
}

int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR source, int sourceLength, LPSTR dest,
                               int destLength, LPCSTR defaultChar, BOOL* usedDefaultChar)
{
    if (!IsAnsiCodePage(codePage)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if ((flags & ~static_cast<DWORD>(WC_NO_BEST_FIT_CHARS)) != 0) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    if (source == nullptr || sourceLength == 0 || sourceLength < -1 || destLength < 0 ||
        (dest == nullptr && destLength != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const int length = sourceLength == -1 ? TerminatedLength(source) : sourceLength;
    if (destLength != 0 && destLength < length) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    const char replacement = defaultChar != nullptr ? *defaultChar : '?';
    bool replaced = false;
    for (int i = 0; i < length; ++i) {
        unsigned char byte = 0;
        if (!w32host::UnicodeToAnsi(static_cast<char32_t>(source[i]), &byte)) {
            byte = static_cast<unsigned char>(replacement);
            replaced = true;
        }
        if (destLength != 0)
            dest[i] = static_cast<char>(byte);
    }
    if (usedDefaultChar != nullptr)
        *usedDefaultChar = replaced ? TRUE : FALSE;
    return length;
}
