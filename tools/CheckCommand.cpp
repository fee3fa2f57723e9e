// qptool check: the checks of qptool build on a source folder (Patch.ini and
// Files) or on an existing patch, without building. Exit code 1 when there
// is an error, 0 otherwise (warnings included).
#include "Command.h"
#include "InspectInput.h"
#include "PackDirectory.h"
#include "PackNames.h"
#include "PatchChecks.h"
#include "StringsCheck.h"

#include <cstdio>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

// The findings on the strings file inside a patch (or a container or pack).
size_t CheckPatchFile(const std::string& path, const std::string& baseFolder)
{
    const InspectInput input = ReadInspectInput(path);
    const std::vector<uint8_t> pack = DecodedContents(input);
    if (ContentsKind(input, pack) != InputKind::Pack)
        throw ToolError(path + " holds an HPFS pack, not a patch's pack");
    std::vector<PackListEntry> entries;
    const PackFault fault = ReadPackDirectory(pack, &entries);
    if (!fault.what.empty())
        throw ToolError("damaged pack at pack offset " + std::to_string(fault.offset) + ": " + fault.what);
    StringsCheckContext context;
    std::vector<uint8_t> strings;
    bool found = false;
    for (const PackListEntry& entry : entries) {
        context.packNames.push_back(entry.name);
        if (entry.name == kStringsPackName) {
            strings.assign(pack.begin() + entry.offset, pack.begin() + entry.offset + entry.size);
            found = true;
        }
    }
    if (!baseFolder.empty())
        context.baseHasShortcutTarget = HasShortcutTarget(baseFolder);
    const std::string label = path + ":PATCH.INI";
    if (!found) {
        std::printf("%s: error: the patch carries no strings file: the patcher stops at once\n", label.c_str());
        return 1;
    }
    return ReportFindings(CheckStrings(strings, context), label, stdout);
}

int RunCheck(const std::vector<std::string>& args)
{
    std::string base, target;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--base" && i + 1 < args.size())
            base = args[++i];
        else if (target.empty())
            target = args[i];
        else
            throw ToolError("give one folder or patch to check");
    }
    if (target.empty())
        throw ToolError("give a folder or a patch to check");
    if (!base.empty() && !fs::is_directory(base))
        throw ToolError("the base folder " + base + " is missing");
    size_t errors = 0;
    if (fs::is_directory(target)) {
        const std::string strings = FindNoCase(target, "Patch.ini");
        const std::string files = FindNoCase(target, "Files");
        const std::vector<PatchSource> sources = CollectPatchSources(strings, files);
        errors = CheckSourceStrings(strings, sources, base, stdout);
    } else {
        errors = CheckPatchFile(target, base);
    }
    std::printf("%s: %s\n", target.c_str(),
                errors ? (std::to_string(errors) + (errors == 1 ? " error" : " errors")).c_str() : "OK");
    return errors ? 1 : 0;
}

const CommandRegistration kCheck({"check", "[--base <old game folder>] <folder or patch>",
                                  "checks a patch's strings file and files as qptool build does", RunCheck,
                                  {"--base="}});

} // namespace
