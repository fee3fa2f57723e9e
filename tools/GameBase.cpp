// Parsing of the --base values.
#include "GameBase.h"

#include "Command.h"

#include <cstdio>
#include <filesystem>
#include <set>

std::optional<uint32_t> ParseGameVersion(const std::string& text)
{
    if (text.empty() || text.size() > 11)
        return std::nullopt;
    const size_t dot = text.find('.');
    if (dot == std::string::npos) {
        if (text.size() > 8 || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
            return std::nullopt;
        return static_cast<uint32_t>(std::stoul(text, nullptr, 16));
    }
    const std::string major = text.substr(0, dot), minor = text.substr(dot + 1);
    if (major.empty() || minor.empty() || major.size() > 5 || minor.size() > 5 ||
        (major + minor).find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const unsigned long high = std::stoul(major), low = std::stoul(minor);
    if (high > 0xFFFF || low > 0xFFFF)
        return std::nullopt;
    return static_cast<uint32_t>(high << 16 | low);
}

GameBase ParseGameBase(const std::string& value)
{
    GameBase base;
    base.folder = value;
    const size_t equals = value.find('=');
    if (equals != std::string::npos) {
        const std::optional<uint32_t> version = ParseGameVersion(value.substr(0, equals));
        if (version) {
            base.label = value.substr(0, equals);
            base.version = version;
            base.folder = value.substr(equals + 1);
        }
    }
    if (base.folder.empty() || !std::filesystem::is_directory(base.folder))
        throw ToolError("the base folder " + base.folder + " is missing");
    return base;
}

std::vector<GameBase> ParseGameBases(const std::vector<std::string>& values)
{
    std::vector<GameBase> bases;
    std::set<uint32_t> versions;
    for (const std::string& value : values) {
        bases.push_back(ParseGameBase(value));
        if (bases.back().version && !versions.insert(*bases.back().version).second)
            throw ToolError("--base names version " + bases.back().label + " twice");
    }
    if (bases.size() > 1 && !AreVersioned(bases))
        throw ToolError("several --base values each name their version: --base <version>=<folder>");
    return bases;
}

bool AreVersioned(const std::vector<GameBase>& bases)
{
    if (bases.empty())
        return false;
    for (const GameBase& base : bases)
        if (!base.version)
            return false;
    return true;
}

std::string VersionText(uint32_t version)
{
    char text[24];
    std::snprintf(text, sizeof text, "%u.%02u", version >> 16, version & 0xFFFF);
    return text;
}
