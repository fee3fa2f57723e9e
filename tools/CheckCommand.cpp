// qptool check: the checks of qptool build, without building, on the inputs
// build takes (or a source folder: Patch.ini and Files) or on an existing
// patch. Exit code 1 when there is an error, 0 otherwise (warnings included).
#include "Command.h"
#include "GameBase.h"
#include "InspectInput.h"
#include "PackDeltas.h"
#include "PackDirectory.h"
#include "PackNames.h"
#include "PackRemovals.h"
#include "PatchChecks.h"
#include "PatchInputs.h"
#include "PatchWriter.h"
#include "StringsCheck.h"

#include <cstdio>
#include <filesystem>
#include <thread>

namespace fs = std::filesystem;

namespace {

bool HasDeltaOnlyFile(CPackFS* pack, const std::vector<PackListEntry>& entries)
{
    for (const auto& [relative, file] : ReadPackDeltas(pack, entries))
        if (!file.whole)
            return true;
    return false;
}

// The outcome line; exit code 1 when there is an error.
int Report(const std::string& what, size_t errors)
{
    std::printf("%s: %s\n", what.c_str(),
                errors ? (std::to_string(errors) + (errors == 1 ? " error" : " errors")).c_str() : "OK");
    return errors ? 1 : 0;
}

// Names the build refuses, in a patch built by hand or by an earlier tool:
// the patcher would write none of them. The number of errors.
size_t CheckWrittenNames(const std::vector<PackListEntry>& entries, const std::string& path)
{
    size_t errors = 0;
    for (const PackListEntry& entry : entries) {
        const std::string problem = WrittenPathProblem(WrittenPath(entry.name));
        if (problem.empty())
            continue;
        std::printf("%s: error: %s: the patcher writes no file of that name: %s\n", path.c_str(), entry.name.c_str(),
                    problem.c_str());
        ++errors;
    }
    return errors;
}

// The findings on the strings file inside a patch (or a container or pack).
size_t CheckPatchFile(const std::string& path, const std::vector<GameBase>& bases)
{
    const std::string baseFolder = bases.empty() ? "" : bases.front().folder;
    const InspectInput input = ReadInspectInput(path);
    RequireSoundContainer(input);
    InspectChain chain(input);
    if (chain.ContentsKind() != InputKind::Pack)
        throw ToolError(path + " holds an HPFS pack, not a patch's pack");
    // What the patcher refuses before its welcome question is refused here too.
    std::string checksum;
    uint64_t at = 0;
    const std::string mountFault = CheckAsThePatcherMounts(input, &checksum, &at);
    if (!mountFault.empty())
        throw ToolError("the patcher refuses " + path + ": fault at offset " + std::to_string(at) + ": " + mountFault);
    const std::vector<PackListEntry> entries = RequirePackListing(input, chain.Image());
    if (ErrorCode error = chain.AttachPack())
        throw ToolError(std::string("the pack does not mount: ") + ErrorText(error));
    StringsCheckContext context;
    std::vector<uint8_t> strings;
    bool found = false;
    for (const PackListEntry& entry : entries) {
        context.packNames.push_back(entry.name);
        if (entry.name == kStringsPackName) {
            strings.resize(entry.size);
            if (entry.size && ReadExactly(chain.Image(), entry.offset, strings.data(), entry.size))
                throw ToolError("the strings file PATCH.INI does not read");
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
    errors += CheckWrittenNames(entries, path);
    std::string removeFault;
    const size_t removals = ReadPackRemovals(chain.Pack(), entries, &removeFault).size();
    if (!removeFault.empty())
        std::printf("%s: error: %s\n", path.c_str(), removeFault.c_str());
    else if (removals)
        std::printf("%s: removes up to %zu old file contents\n", path.c_str(), removals);
    errors += removeFault.empty() ? 0 : 1;
    if (AreVersioned(bases))
        errors += CheckVersionWindow(strings, bases, HasDeltaOnlyFile(chain.Pack(), entries), label, stdout);
    return errors;
}

const std::string kCheckUsage =
    std::string("(") + kPatchInputsUsage +
    ")\n             | [--base <old game folder> | --base <version>=<folder> ...] <folder or patch>\n"
    "               (a folder holds Patch.ini and Files; with --base, Files is the new version)";

int RunCheck(const std::vector<std::string>& args)
{
    std::vector<std::string> rest = args;
    PatchInputs inputs = TakePatchInputs(&rest);
    if (rest.size() > 1)
        throw ToolError("give one folder or patch to check");
    const std::string target = rest.empty() ? "" : rest.front();
    const bool sourceOptions = !inputs.strings.empty() || !inputs.files.empty() || !inputs.from.empty();
    if (target.empty() && !sourceOptions)
        throw ToolError("give a folder or a patch to check, or the inputs of qptool build");
    if (!target.empty() && sourceOptions)
        throw ToolError("give a folder or a patch to check, or the inputs of qptool build, not both");
    if (!target.empty() && !fs::is_directory(target)) {
        inputs.bases = ParseGameBases(inputs.baseValues);
        const size_t errors = CheckPatchFile(target, inputs.bases);
        return Report(target, errors);
    }
    if (!target.empty() && inputs.baseValues.empty()) {
        inputs.from = target;
    } else if (!target.empty()) {
        // With bases, the folder's Files is the new game folder.
        inputs.strings = FindNoCase(target, "Patch.ini");
        inputs.from = FindNoCase(target, "Files");
        if (inputs.strings.empty() || inputs.from.empty())
            throw ToolError("the strings file Patch.ini or the folder Files is missing in " + target +
                            "; with --base, check a folder holding both (Files the new version), or give "
                            "--strings <Patch.ini> --from <new game folder> as to qptool build");
    }
    ResolvePatchInputs(&inputs);
    // Exactly what build gathers, refusals included; the deltas only measured.
    const GatheredPatch patch = GatherPatch(inputs, 0, false, stdout);
    // The limits of what the patcher reads back, the stub's size aside.
    const unsigned cores = std::thread::hardware_concurrency();
    CheckPatchFits({}, patch.sources, cores ? cores : 1);
    return Report(target.empty() ? inputs.strings : target, CheckGatheredStrings(inputs, patch, stdout));
}

const CommandRegistration kCheck({"check", kCheckUsage.c_str(),
                                  "checks a patch's strings file and files as qptool build does, with the same "
                                  "inputs, or an existing patch; with versioned bases, that every version it "
                                  "admits can be patched",
                                  RunCheck, {"--strings=", "--files=", "--from=", "--base=", "--whole", "--keep="}});

} // namespace
