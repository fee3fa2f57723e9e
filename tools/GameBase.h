// The installed versions a patch starts from, as given to --base: either
// "<version>=<folder>" (a version the patch accepts and a copy of that
// version's game folder) or, as before, one bare folder.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct GameBase {
    std::string label;               // the version as written ("1.03"), empty for a bare folder
    std::optional<uint32_t> version; // major in the high 16 bits, minor in the low 16 bits
    std::string folder;
};

// "1.03" (major and minor, decimal) or hexadecimal digits as the strings
// file writes them ("10003"); none when the text is neither.
std::optional<uint32_t> ParseGameVersion(const std::string& text);

// One --base value. A value whose text before the first '=' is a version
// names that version; any other value is a bare folder. ToolError when the
// folder is missing.
GameBase ParseGameBase(const std::string& value);

// The --base values of a command: several versioned ones (each version
// once), or one bare folder. ToolError otherwise.
std::vector<GameBase> ParseGameBases(const std::vector<std::string>& values);

// Whether the bases name their versions (the delta form).
bool AreVersioned(const std::vector<GameBase>& bases);

// "0x10003" as "1.03".
std::string VersionText(uint32_t version);
