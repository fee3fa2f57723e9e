#include "file/PlainFileName.h"

#include <cstring>

#include "framework/AsciiText.h"

const char kPartialFileSuffix[] = ".~qp";
const char kReservedNameCharacters[] = "\\/:*?\"<>|";

namespace {

constexpr size_t kMaxNameLength = 255;

// The part of name before its first dot, trailing spaces dropped: Windows
// looks at that part alone to find a device ("nul .txt" is NUL too).
bool IsDeviceName(const char* name) {
    size_t length = 0;
    while (name[length] && name[length] != '.') ++length;
    while (length && name[length - 1] == ' ') --length;
    char base[8];
    if (length > 7) return false;
    for (size_t i = 0; i < length; ++i) base[i] = char(AsciiUpper(uint8_t(name[i])));
    base[length] = '\0';
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* device : kDevices)
        if (std::strcmp(base, device) == 0) return true;
    // COM and LPT with a digit, also the superscript digits 1 to 3 of the
    // Windows code page, which Windows takes as the same device numbers.
    if (length == 4 && (std::strncmp(base, "COM", 3) == 0 || std::strncmp(base, "LPT", 3) == 0)) {
        unsigned char digit = uint8_t(base[3]);
        return (digit >= '0' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
    }
    return false;
}

bool EndsWithNoCase(const char* text, size_t length, const char* suffix) {
    size_t suffixLength = std::strlen(suffix);
    return length >= suffixLength && CompareNoCaseN(text + length - suffixLength, suffix, uint32_t(suffixLength)) == 0;
}

// Checks each backslash-separated name of path with the test.
template <typename NameTest>
bool EveryName(const char* path, NameTest test) {
    if (!path || !*path) return false;
    char name[kMaxNameLength + 1];
    for (const char* at = path;;) {
        const char* end = std::strchr(at, '\\');
        size_t length = end ? size_t(end - at) : std::strlen(at);
        if (length > kMaxNameLength) return false;
        std::memcpy(name, at, length);
        name[length] = '\0';
        if (!test(name, length)) return false;
        if (!end) return true;
        at = end + 1;
    }
}

}  // namespace

NameFault PlainFileNameFault(const char* name) {
    size_t length = name ? std::strlen(name) : 0;
    if (length == 0) return NameFault::kEmpty;
    if (length > kMaxNameLength) return NameFault::kTooLong;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return NameFault::kFolderReference;
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = uint8_t(name[i]);
        if (c < 32) return NameFault::kControlCharacter;
        if (std::strchr(kReservedNameCharacters, c)) return NameFault::kReservedCharacter;
    }
    if (name[length - 1] == '.' || name[length - 1] == ' ') return NameFault::kTrailingDotOrBlank;
    return IsDeviceName(name) ? NameFault::kDeviceName : NameFault::kNone;
}

bool IsPlainFileName(const char* name) { return PlainFileNameFault(name) == NameFault::kNone; }

NameFault PatchFileNameFault(const char* name) {
    NameFault fault = PlainFileNameFault(name);
    if (fault != NameFault::kNone) return fault;
    size_t length = std::strlen(name);
    for (size_t i = 0; i < length; ++i)
        if (uint8_t(name[i]) > 126) return NameFault::kNotAscii;
    return EndsWithNoCase(name, length, kPartialFileSuffix) ? NameFault::kPartialSuffix : NameFault::kNone;
}

bool IsPlainRelativePath(const char* path) {
    return EveryName(path, [](const char* name, size_t) { return IsPlainFileName(name); });
}

bool IsPatchFilePath(const char* path) {
    return EveryName(path, [](const char* name, size_t) { return PatchFileNameFault(name) == NameFault::kNone; });
}
