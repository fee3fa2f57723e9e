// qptool check: the checks of qptool build on a source folder (Patch.ini and
// Files) or on an existing patch, without building. Exit code 1 when there
// is an error, 0 otherwise (warnings included).
#include "Command.h"
#include "DeltaPlan.h"
#include "GameBase.h"
#include "InspectInput.h"
#include "PackDeltas.h"
#include "PackDirectory.h"
#include "PackNames.h"
#include "PackRemovals.h"
#include "PatchChecks.h"
#include "StringsCheck.h"
#include "VersionWindow.h"

#include <cstdio>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

// The version window against the bases, for a patch some of whose changed
// files are carried only as deltas: 1 (and the error printed) when it admits
// a version without a base.
size_t CheckVersionWindow(const std::vector<uint8_t>& strings, const std::vector<GameBase>& bases,
                          bool deltaOnly, const std::string& label)
{
    const std::string uncovered = VersionsWithoutBase(strings, bases);
    if (!deltaOnly || uncovered.empty())
        return 0;
    std::printf("%s: error: %s\n", label.c_str(), VersionWindowError(uncovered).c_str());
    return 1;
}

bool HasDeltaOnlyFile(const std::vector<uint8_t>& pack, const std::vector<PackListEntry>& entries)
{
    for (const auto& [relative, file] : ReadPackDeltas(pack, entries))
        if (!file.whole)
            return true;
    return false;
}

// The findings on the strings file inside a patch (or a container or pack).
size_t CheckPatchFile(const std::string& path, const std::vector<GameBase>& bases)
{
    const std::string baseFolder = bases.empty() ? "" : bases.front().folder;
    const InspectInput input = ReadInspectInput(path);
    const std::vector<uint8_t> pack = DecodedContents(input);
    if (ContentsKind(input, pack) != InputKind::Pack)
        throw ToolError(path + " holds an HPFS pack, not a patch's pack");
    // What the patcher refuses before its welcome question is refused here too.
    std::string checksum;
    uint64_t at = 0;
    const std::string mountFault = CheckAsThePatcherMounts(input, &checksum, &at);
    if (!mountFault.empty())
        throw ToolError("the patcher refuses " + path + ": fault at offset " + std::to_string(at) + ": " + mountFault);
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
    size_t errors = ReportFindings(CheckStrings(strings, context), label, stdout);
    std::string removeFault;
    const size_t removals = ReadPackRemovals(pack, entries, &removeFault).size();
    if (!removeFault.empty())
        std::printf("%s: error: %s\n", path.c_str(), removeFault.c_str());
    else if (removals)
        std::printf("%s: removes up to %zu old file contents\n", path.c_str(), removals);
    errors += removeFault.empty() ? 0 : 1;
    if (AreVersioned(bases))
        errors += CheckVersionWindow(strings, bases, HasDeltaOnlyFile(pack, entries), label);
    return errors;
}

int RunCheck(const std::vector<std::string>& args)
{
    std::vector<std::string> baseValues;
    std::string target;
    bool whole = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--base" && i + 1 < args.size())
            baseValues.push_back(args[++i]);
        else if (args[i] == "--whole")
            whole = true;
        else if (target.empty())
            target = args[i];
        else
            throw ToolError("give one folder or patch to check");
    }
    if (target.empty())
        throw ToolError("give a folder or a patch to check");
    const std::vector<GameBase> bases = ParseGameBases(baseValues);
    size_t errors = 0;
    if (fs::is_directory(target)) {
        const std::string strings = FindNoCase(target, "Patch.ini");
        const std::string files = FindNoCase(target, "Files");
        const std::vector<PatchSource> sources = CollectPatchSources(strings, files);
        errors = CheckSourceStrings(strings, sources, bases.empty() ? "" : bases.front().folder, stdout);
        // With versions, Files is the new game folder the deltas lead to.
        if (AreVersioned(bases)) {
            const DeltaPlan plan = PlanDeltas(bases, files, whole, 0, nullptr);
            errors += plan.Conflicts();
            errors += CheckVersionWindow(ReadSourceFile(strings), bases, plan.HasDeltaOnlyFile(), strings);
        }
    } else {
        errors = CheckPatchFile(target, bases);
    }
    std::printf("%s: %s\n", target.c_str(),
                errors ? (std::to_string(errors) + (errors == 1 ? " error" : " errors")).c_str() : "OK");
    return errors ? 1 : 0;
}

const CommandRegistration kCheck({"check",
                                  "[--base <old game folder> | --base <version>=<folder> ... [--whole]] "
                                  "<folder or patch>",
                                  "checks a patch's strings file and files as qptool build does; with versioned "
                                  "bases, that every version it admits can be patched",
                                  RunCheck, {"--base=", "--whole"}});

} // namespace
