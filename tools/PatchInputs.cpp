// The inputs of build and check, and the files of the patch.
#include "PatchInputs.h"

#include "Command.h"
#include "OutputFile.h"
#include "PackNames.h"
#include "PatchChecks.h"
#include "VersionDiff.h"
#include "VersionWindow.h"

#include "payload/RemoveList.h"

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

const char kPatchInputsUsage[] =
    "--from <folder> | --strings <Patch.ini> --files <folder>\n"
    "             | --strings <Patch.ini> --base <old game folder> --from <new game folder>\n"
    "             | --strings <Patch.ini> --base <version>=<folder> [--base <version>=<folder> ...]\n"
    "               --from <new game folder> [--whole]\n"
    "             [--keep <path> ...]  (with --base: a file only the old versions have is removed unless kept)";

PatchInputs TakePatchInputs(std::vector<std::string>* args)
{
    PatchInputs inputs;
    std::vector<std::string> rest;
    for (size_t i = 0; i < args->size(); ++i) {
        const std::string& arg = (*args)[i];
        if (arg == "--whole") {
            inputs.whole = true;
            continue;
        }
        std::string* slot = arg == "--strings" ? &inputs.strings
                            : arg == "--files" ? &inputs.files
                            : arg == "--from"  ? &inputs.from
                                               : nullptr;
        if (slot == nullptr && arg != "--base" && arg != "--keep") {
            rest.push_back(arg);
            continue;
        }
        if (i + 1 >= args->size() || (*args)[i + 1].empty())
            throw ToolError(arg + " needs a value");
        if (slot == nullptr)
            (arg == "--base" ? inputs.baseValues : inputs.keep).push_back((*args)[++i]);
        else if (!slot->empty())
            throw ToolError(arg + " is given twice");
        else
            *slot = (*args)[++i];
    }
    *args = rest;
    return inputs;
}

void ResolvePatchInputs(PatchInputs* inputs)
{
    inputs->bases = ParseGameBases(inputs->baseValues);
    if (inputs->whole && !AreVersioned(inputs->bases))
        throw ToolError("--whole goes with --base <version>=<folder>");
    if (!inputs->keep.empty() && inputs->bases.empty())
        throw ToolError("--keep goes with --base");
    if (!inputs->bases.empty()) {
        // The new game folder is the files folder.
        if (inputs->from.empty() || inputs->strings.empty() || !inputs->files.empty())
            throw ToolError("--base takes --from <new game folder> and --strings <Patch.ini>, not --files");
        inputs->files = inputs->from;
        return;
    }
    if (inputs->from.empty())
        return;
    if (!inputs->strings.empty() || !inputs->files.empty())
        throw ToolError("--from replaces --strings and --files; give one or the other");
    if (!fs::is_directory(inputs->from))
        throw ToolError("the folder " + inputs->from + " is missing");
    inputs->strings = FindNoCase(inputs->from, "Patch.ini");
    inputs->files = FindNoCase(inputs->from, "Files");
    if (inputs->strings.empty())
        throw ToolError("the strings file Patch.ini is missing in " + inputs->from);
    if (inputs->files.empty())
        throw ToolError("the files folder Files is missing in " + inputs->from);
}

namespace {

// The removal list as the pack entry REMOVE (payload/RemoveList.h), dated
// as the strings file so that the same folders give the same patch.
void AddRemoveList(const std::vector<RemovedFile>& removals, GatheredPatch* patch)
{
    if (removals.empty())
        return;
    if (!patch->scratch)
        patch->scratch.reset(new ScratchFolder);
    const std::string path = patch->scratch->Path() + "/remove-list";
    const std::string text = RemoveListText(removals);
    WriteOutputFile(path, std::vector<uint8_t>(text.begin(), text.end()), static_cast<fs::perms>(0644));
    PatchSource source = DescribeSource(kRemoveListName, path);
    for (const PatchSource& other : patch->sources)
        if (other.packName == kStringsPackName)
            source.dosDateTime = other.dosDateTime;
    patch->sources.push_back(source);
    std::sort(patch->sources.begin(), patch->sources.end(),
              [](const PatchSource& a, const PatchSource& b) { return a.packName < b.packName; });
}

} // namespace

GatheredPatch GatherPatch(const PatchInputs& inputs, unsigned threads, bool keepDeltas, std::FILE* planOut)
{
    GatheredPatch patch;
    if (inputs.bases.empty()) {
        patch.sources = CollectPatchSources(inputs.strings, inputs.files);
        return patch;
    }
    // The shortcut's target, when the patch lacks it, must be in every base.
    patch.baseFolder = inputs.bases.front().folder;
    for (const GameBase& base : inputs.bases)
        if (!HasShortcutTarget(base.folder))
            patch.baseFolder = base.folder;
    if (!AreVersioned(inputs.bases)) {
        DiffPlan plan = PlanVersionDiff(patch.baseFolder, inputs.from);
        plan.removals = PlanRemovals({plan}, inputs.keep);
        PrintPlan(plan, false, planOut);
        if (plan.Count(DiffEntry::kConflict))
            throw ToolError("the patcher cannot turn the old version into the new one (conflicts above); no patch "
                            "written");
        patch.sources = CollectPatchSources(inputs.strings, inputs.files,
                                            [&plan](const std::string& relative) { return plan.Carries(relative); });
        AddRemoveList(plan.removals, &patch);
        return patch;
    }
    if (keepDeltas)
        patch.scratch.reset(new ScratchFolder);
    DeltaPlan plan = PlanDeltas(inputs.bases, inputs.from, inputs.whole, threads, patch.scratch.get());
    plan.removals = PlanRemovals(plan.diffs, inputs.keep);
    PrintDeltaPlan(plan, inputs.bases, planOut);
    if (plan.Conflicts())
        throw ToolError("the patcher cannot turn every base into the new version (conflicts above); no patch "
                        "written");
    patch.deltaOnly = plan.HasDeltaOnlyFile();
    patch.sources = CollectPatchSources(inputs.strings, inputs.files,
                                        [&plan](const std::string& relative) { return plan.CarriesWhole(relative); });
    for (const PlannedFile& file : plan.files)
        for (const DeltaPiece& piece : file.deltas) {
            PatchSource source = DescribeSource(piece.packName, (fs::path(inputs.from) / file.relative).string());
            source.hostPath = piece.path;
            source.size = piece.size;
            patch.sources.push_back(source);
        }
    std::sort(patch.sources.begin(), patch.sources.end(),
              [](const PatchSource& a, const PatchSource& b) { return a.packName < b.packName; });
    AddRemoveList(plan.removals, &patch);
    return patch;
}

size_t CheckVersionWindow(const std::vector<uint8_t>& strings, const std::vector<GameBase>& bases, bool deltaOnly,
                          const std::string& label, std::FILE* out)
{
    if (!deltaOnly || !AreVersioned(bases))
        return 0;
    const std::string uncovered = VersionsWithoutBase(strings, bases);
    if (uncovered.empty())
        return 0;
    std::fprintf(out, "%s: error: %s\n", label.c_str(), VersionWindowError(uncovered).c_str());
    return 1;
}

size_t CheckGatheredStrings(const PatchInputs& inputs, const GatheredPatch& patch, std::FILE* out)
{
    return CheckSourceStrings(inputs.strings, patch.sources, patch.baseFolder, out) +
           CheckVersionWindow(ReadSourceFile(inputs.strings), inputs.bases, patch.deltaOnly, inputs.strings, out);
}
