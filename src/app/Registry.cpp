#include "app/Registry.h"

#include "app/AppState.h"

// The game's installer is a 32-bit program: on 64-bit Windows its key lies in
// the 32-bit view, which a 64-bit build must ask for (32-bit Windows ignores it).
bool OpenGameKey(REGSAM access, HKEY* key) {
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, kGameKey, 0, access | KEY_WOW64_32KEY, key) == ERROR_SUCCESS;
}

RegistryText ReadRegistryText(HKEY key, const char* name, char* buffer, uint32_t size) {
    buffer[0] = '\0';
    DWORD type = 0;
    DWORD length = size;
    LONG result = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &length);
    // On any failure the buffer may hold part of the value, unterminated.
    if (result != ERROR_SUCCESS) {
        buffer[0] = '\0';
        return result == ERROR_MORE_DATA ? RegistryText::kTooLong : RegistryText::kMissing;
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

bool ReadRegistryNumber(HKEY key, const char* name, uint32_t* value) {
    DWORD number = 0;
    DWORD type = 0;
    DWORD length = sizeof number;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&number), &length) != ERROR_SUCCESS)
        return false;
    *value = number;
    return true;
}
