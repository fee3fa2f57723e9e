// Admitted versions without a base.
#include "VersionWindow.h"

#include "StringsFile.h"

#include "app/HexNumber.h"

#include <algorithm>
#include <set>

namespace {

uint32_t VersionValue(const StringsFile& file, const char* key)
{
    const std::optional<std::string> text = file.Value("str", key);
    return static_cast<uint32_t>(ParseHexNumber(text ? text->c_str() : ""));
}

} // namespace

std::string VersionsWithoutBase(const std::vector<uint8_t>& strings, const std::vector<GameBase>& bases)
{
    const StringsFile file(strings);
    const uint32_t target = VersionValue(file, "ver"), minimum = VersionValue(file, "vermin");
    std::set<uint32_t> based;
    for (const GameBase& base : bases)
        if (base.version && *base.version >= minimum && *base.version < target)
            based.insert(*base.version);
    if (minimum >= target)
        return "";
    const uint64_t missing = uint64_t(target - minimum) - based.size();
    std::string text;
    unsigned named = 0;
    for (uint64_t version = minimum; version < target && named < 3; ++version)
        if (!based.count(static_cast<uint32_t>(version))) {
            text += (named ? ", " : "") + VersionText(static_cast<uint32_t>(version));
            ++named;
        }
    if (missing > named)
        text += " and " + std::to_string(missing - named) + " more";
    return text;
}

std::string VersionWindowError(const std::string& uncovered)
{
    return "\"vermin\" to \"ver\" admits " + uncovered +
           ", which no --base names, while some changed file is carried only as deltas: those games would stop at "
           "that file. Give a base for each admitted version, raise \"vermin\", or build with --whole";
}
