// Feeds the strings checks from a source tree.
#include "PatchChecks.h"

#include "StringsCheck.h"

#include <filesystem>

bool HasShortcutTarget(const std::string& gameFolder)
{
    std::string folder = gameFolder;
    const std::string target = kShortcutTarget;
    for (size_t start = 0;;) {
        const size_t end = target.find('\\', start);
        const std::string found = FindNoCase(folder, target.substr(start, end - start));
        if (found.empty())
            return false;
        if (end == std::string::npos)
            return std::filesystem::is_regular_file(found);
        folder = found;
        start = end + 1;
    }
}

size_t CheckSourceStrings(const std::string& stringsPath, const std::vector<PatchSource>& sources,
                          const std::string& baseFolder, std::FILE* out)
{
    StringsCheckContext context;
    for (const PatchSource& source : sources)
        context.packNames.push_back(source.packName);
    if (!baseFolder.empty())
        context.baseHasShortcutTarget = HasShortcutTarget(baseFolder);
    return ReportFindings(CheckStrings(ReadSourceFile(stringsPath), context), stringsPath, out);
}
