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

// The game's values under HKEY_LOCAL_MACHINE\SOFTWARE\Orvandel\Quor as a
// registry-export text; with keyPresent false, a hive without that key.
std::string RegistryText(bool keyPresent, const std::optional<std::string>& path,
                         const std::optional<uint32_t>& gameVersion, const std::optional<std::string>& language);

// "GameVersion" as written in a registry-export text, if there.
std::optional<uint32_t> RegistryGameVersion(const std::string& registryText);

// The subcommand `qptool sample-install FOLDER` lays out a sample
// installation of QUOR 1.01 below FOLDER: drive C in FOLDER/c (the game in
// C:\Games\Quor with an HPFS packs\local.wdt), the registry in
// FOLDER/registry.reg, and the Programs folder C:\Menu\Programs holding an
// "Orvandel\Quor" folder.

}  // namespace sample
