#include "app/Registry.h"

#include "app/AppState.h"
#include "app/SafeFormat.h"

// The game's installer is a 32-bit program: on 64-bit Windows its key lies in
// the 32-bit view, which a 64-bit build must ask for (32-bit Windows ignores it).
bool OpenGameKey(REGSAM access, HKEY* key) {
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, kGameKey, 0, access | KEY_WOW64_32KEY, key) == ERROR_SUCCESS;
}

namespace {

// The stored text of a string value, terminated; type receives its type.
RegistryText ReadStoredText(HKEY key, const char* name, char* buffer, uint32_t size, DWORD* type) {
    buffer[0] = '\0';
    DWORD length = size;
    LONG result = RegQueryValueExA(key, name, nullptr, type, reinterpret_cast<BYTE*>(buffer), &length);
    // A number or binary data is no text, whatever its bytes spell.
    bool text = *type == REG_SZ || *type == REG_EXPAND_SZ;
    // On any failure the buffer may hold part of the value, unterminated.
    if (result != ERROR_SUCCESS || !text) {
        buffer[0] = '\0';
        return result == ERROR_MORE_DATA && text ? RegistryText::kTooLong : RegistryText::kMissing;
    }
    // A stored string need not carry its terminator: add one where it fits.
    if (length > size) length = size;
    if (length < size) {
        buffer[length] = '\0';
    } else if (buffer[size - 1] != '\0') {
        buffer[0] = '\0';
        return RegistryText::kTooLong;
    }
    return RegistryText::kRead;
}

}  // namespace

RegistryText ReadRegistryText(HKEY key, const char* name, char* buffer, uint32_t size) {
    if (size > kPathSize) size = kPathSize;
    DWORD type = REG_NONE;
    RegistryText read = ReadStoredText(key, name, buffer, size, &type);
    if (read != RegistryText::kRead || type != REG_EXPAND_SZ) return read;
    // As the system's own readers do: "%SystemDrive%\Games" names C:\Games.
    char stored[kPathSize];
    CopyText(stored, kPathSize, buffer);
    DWORD needed = ExpandEnvironmentStringsA(stored, buffer, size);
    if (needed == 0 || needed > size) {
        buffer[0] = '\0';
        return needed == 0 ? RegistryText::kMissing : RegistryText::kTooLong;
    }
    return RegistryText::kRead;
}

bool ReadRegistryNumber(HKEY key, const char* name, uint32_t* value) {
    DWORD number = 0;
    DWORD type = REG_NONE;
    DWORD length = sizeof number;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&number), &length) != ERROR_SUCCESS)
        return false;
    // Text such as "101", or fewer than four bytes, is no version number.
    if (type != REG_DWORD || length != sizeof number) return false;
    *value = number;
    return true;
}
