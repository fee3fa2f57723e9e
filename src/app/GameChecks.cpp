#include "app/GameChecks.h"

#include "app/AppState.h"
#include "app/HexNumber.h"
#include "app/Messages.h"
#include "app/Registry.h"
#include "app/SafeFormat.h"
#include "framework/AsciiText.h"

uint32_t PatchVersion() { return uint32_t(ParseHexNumber(LookupText("ver"))); }
uint32_t PatchMinimumVersion() { return uint32_t(ParseHexNumber(LookupText("vermin"))); }

int FindGameFolder() {
    HKEY key;
    if (!OpenGameKey(KEY_READ, &key)) return 0;
    RegistryText read = ReadRegistryText(key, kValuePath, g_GameFolder, kPathSize);
    RegCloseKey(key);
    if (read != RegistryText::kRead) return 0;
    size_t length = 0;
    while (g_GameFolder[length]) ++length;
    if (length == 0 || g_GameFolder[length - 1] != '\\') {
        // A 255-character folder leaves no room for the backslash: such a
        // value cannot name a usable folder and counts as missing.
        if (length + 1 >= kPathSize) {
            g_GameFolder[0] = '\0';
            return 0;
        }
        g_GameFolder[length] = '\\';
        g_GameFolder[length + 1] = '\0';
    }
    return 1;
}

namespace {

void CheckExecutable() {
    char path[kPathSize];
    // A game path too long for the buffer cannot be opened either.
    if (!CopyText(path, kPathSize, g_GameFolder) || !AppendText(path, kPathSize, "Quor.exe"))
        FatalMessage("noquor", nullptr);
    HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) FatalMessage("noquor", nullptr);
    CloseHandle(handle);
}

void CheckVersion() {
    uint32_t target = PatchVersion();
    uint32_t minimum = PatchMinimumVersion();
    HKEY key;
    if (!OpenGameKey(KEY_READ, &key)) return;  // no key: no version check
    uint32_t installed = 0;
    bool read = ReadRegistryNumber(key, kValueGameVersion, &installed);
    RegCloseKey(key);
    if (!read) FatalMessage("errvermin", nullptr);
    if (installed > target) FatalMessage("noneed", nullptr);
    if (installed < minimum) FatalMessage("errvermin", nullptr);
}

void CheckRegistryLanguage(const char* lang) {
    HKEY key;
    if (!OpenGameKey(KEY_READ, &key)) return;
    char language[kPathSize];
    RegistryText read = ReadRegistryText(key, kValueLanguage, language, kPathSize);
    RegCloseKey(key);
    // A value too long for the buffer is longer than any "lang" text, so it
    // is present and different.
    if (read == RegistryText::kTooLong || (read == RegistryText::kRead && CompareNoCase(language, lang) != 0))
        FatalMessage("wronglang", nullptr);
}

}  // namespace

int CheckGame() {
    CheckExecutable();
    CheckVersion();
    // A "lang" text over 255 characters is cut to the buffer.
    char lang[kPathSize];
    CopyText(lang, kPathSize, LookupText("lang"));
    if (lang[0] == '\0') return 1;
    CheckRegistryLanguage(lang);
    CheckLanguagePack(lang);
    return 1;
}

int WriteGameVersion() {
    DWORD version = PatchVersion();
    HKEY key;
    if (!OpenGameKey(KEY_WRITE, &key)) return 0;
    LONG result =
        RegSetValueExA(key, kValueGameVersion, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&version), sizeof version);
    RegCloseKey(key);
    return result == ERROR_SUCCESS ? 1 : 0;
}
