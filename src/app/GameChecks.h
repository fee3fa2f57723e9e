// The stages that deal with the installed game: where it is, whether this
// patch may be applied to it, and the version record after the update.
#pragma once

#include <cstdint>

// 1 and g_GameFolder set (ending in a backslash) from the registry's "Path",
// or 0 when the key or the value is missing or the value does not fit.
int FindGameFolder();

// 1 when every check passed or was skipped; a failed check shows its text
// and ends the process.
int CheckGame();

// The two checks inside the game's local pack for the language lang; returns
// when each passed or could not be made.
void CheckLanguagePack(const char* lang);

class CFileService;

// The game's local pack at path as a file service that owns the file, or
// null when it is missing, damaged or of no known kind (no pack check then).
CFileService* OpenLocalPack(const char* path);

// The value of [section] key in the strings file at path inside service
// differs from expected. A missing or unreadable file, section or key does
// not differ.
bool PackValueDiffers(CFileService* service, const char* path, const char* section, const char* key,
                      const char* expected);

// Records "ver" as the installed "GameVersion"; 1 when it is recorded, 0
// when the key cannot be opened for writing or the value cannot be set.
int WriteGameVersion();

// The version texts of the strings file as numbers.
uint32_t PatchVersion();
uint32_t PatchMinimumVersion();
