// Sample game installations for the demo and the end-to-end tests: the
// game's local data pack (a block file or a pack file, optionally inside a
// compressed container) and the registry file of the host layer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sample {

enum class LocalPackFormat { kBlockFile, kPackFile };

struct PackedFile {
    std::string name;  // with backslashes, e.g. LOCAL\strings3.ini
    std::string content;
};

// The bytes of a local pack holding files; false and a reason on failure.
bool BuildLocalPack(LocalPackFormat format, bool compressed, const std::vector<PackedFile>& files,
                    std::vector<uint8_t>* bytes, std::string* error);

// The two strings files the language check reads; a value left out leaves
// its key (and so its file's only section) out.
std::vector<PackedFile> LanguageFiles(const std::optional<std::string>& language,
                                      const std::optional<std::string>& peon);

// The two views of HKEY_LOCAL_MACHINE\SOFTWARE on 64-bit Windows. The game's
// 32-bit installer leaves its key in the 32-bit view, stored as
// SOFTWARE\WOW6432Node\Orvandel\Quor; the 64-bit view is SOFTWARE\Orvandel\Quor.
enum class RegistryView { k32Bit, k64Bit };

// The game's key below HKEY_LOCAL_MACHINE as a registry-export key name.
std::string GameKeyName(RegistryView view);

// The game's key in one view with the values given.
struct GameKey {
    RegistryView view = RegistryView::k32Bit;
    std::optional<std::string> path;
    std::optional<uint32_t> gameVersion;
    std::optional<std::string> language;
};

// A registry-export text holding the given keys; with none, a hive that holds
// the publisher's key in the 32-bit view but not the game's.
std::string RegistryText(const std::vector<GameKey>& keys);

// "GameVersion" of the game's key in a view, as a registry-export text has
// it, if there.
std::optional<uint32_t> RegistryGameVersion(const std::string& registryText, RegistryView view);

// The subcommand `qptool sample-install FOLDER` lays out a sample
// installation of QUOR 1.01 below FOLDER: drive C in FOLDER/c (the game in
// C:\Games\Quor with an HPFS packs\local.wdt), the registry in
// FOLDER/registry.reg, and the Programs folder C:\Menu\Programs holding an
// "Orvandel\Quor" folder.

}  // namespace sample
