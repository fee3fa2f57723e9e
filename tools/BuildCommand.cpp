// qptool build: the patcher stub with the pack (Patch.ini, the files folder,
// against versioned bases the deltas of DeltaPlan.h,
// and the checksum entry) appended inside a block-compressed container
// (block size 32768, bit lengths 0xC4), laid out so that the patcher's scan
// finds it. The strings file and the stub are checked first; the patch is
// written as a stream (PatchWriter.h), its blocks compressed on every core.
#include "Command.h"
#include "DeltaPlan.h"
#include "GameBase.h"
#include "OutputFile.h"
#include "PatchChecks.h"
#include "PatchSources.h"
#include "PackNames.h"
#include "PatchWriter.h"
#include "Progress.h"
#include "StubCheck.h"
#include "VersionDiff.h"
#include "VersionWindow.h"

#include "payload/RemoveList.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <thread>

namespace fs = std::filesystem;

namespace {

const char kUsage[] =
    "--stub <patcher> (--from <folder> | --strings <Patch.ini> --files <folder>\n"
    "             | --strings <Patch.ini> --base <old game folder> --from <new game folder>\n"
    "             | --strings <Patch.ini> --base <version>=<folder> [--base <version>=<folder> ...]\n"
    "               --from <new game folder> [--whole])\n"
    "             [--keep <path> ...]  (with --base: a file only the old versions have is removed unless kept)\n"
    "             --out <patch> [--threads <n>] [--allow-errors]";

struct BuildOptions {
    std::string stub, strings, files, from, out, threads;
    std::vector<GameBase> bases;
    std::vector<std::string> keep; // files only in the bases that the patch leaves in place
    bool allowErrors = false; // build although the checks found errors (to try a patcher on faulty strings)
    bool whole = false;       // carry changed files whole, no deltas
};

BuildOptions ParseOptions(const std::vector<std::string>& args)
{
    BuildOptions options;
    std::vector<std::string> bases;
    const std::map<std::string, std::string*> slots{
        {"--stub", &options.stub}, {"--strings", &options.strings}, {"--files", &options.files},
        {"--from", &options.from}, {"--out", &options.out},         {"--threads", &options.threads}};
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--allow-errors" || args[i] == "--whole") {
            (args[i] == "--whole" ? options.whole : options.allowErrors) = true;
            continue;
        }
        if (args[i] == "--base" || args[i] == "--keep") {
            if (i + 1 >= args.size() || args[i + 1].empty())
                throw ToolError(args[i] + " needs a value");
            (args[i] == "--base" ? bases : options.keep).push_back(args[i + 1]);
            ++i;
            continue;
        }
        const auto slot = slots.find(args[i]);
        if (slot == slots.end())
            throw ToolError("unknown argument \"" + args[i] + "\"; usage: qptool build " + kUsage);
        if (i + 1 >= args.size() || args[i + 1].empty())
            throw ToolError(args[i] + " needs a value");
        *slot->second = args[++i];
    }
    if (options.stub.empty() || options.out.empty())
        throw ToolError(std::string("--stub and --out are required; usage: qptool build ") + kUsage);
    if (options.whole && !AreVersioned(ParseGameBases(bases)))
        throw ToolError("--whole goes with --base <version>=<folder>");
    if (!options.keep.empty() && bases.empty())
        throw ToolError("--keep goes with --base");
    if (!bases.empty()) {
        // Two versions or more: the new game folder is the files folder.
        if (options.from.empty() || options.strings.empty() || !options.files.empty())
            throw ToolError("--base takes --from <new game folder> and --strings <Patch.ini>, not --files");
        options.bases = ParseGameBases(bases);
        options.files = options.from;
        return options;
    }
    if (!options.from.empty()) {
        if (!options.strings.empty() || !options.files.empty())
            throw ToolError("--from replaces --strings and --files; give one or the other");
        if (!fs::is_directory(options.from))
            throw ToolError("the folder " + options.from + " is missing");
        options.strings = FindNoCase(options.from, "Patch.ini");
        options.files = FindNoCase(options.from, "Files");
        if (options.strings.empty())
            throw ToolError("the strings file Patch.ini is missing in " + options.from);
        if (options.files.empty())
            throw ToolError("the files folder Files is missing in " + options.from);
    }
    return options;
}

unsigned ThreadCount(const std::string& text)
{
    if (text.empty()) {
        const unsigned cores = std::thread::hardware_concurrency();
        return cores ? cores : 1;
    }
    if (text.find_first_not_of("0123456789") != std::string::npos || text.size() > 3 || std::stoi(text) < 1 ||
        std::stoi(text) > 256)
        throw ToolError("--threads takes a number from 1 to 256");
    return static_cast<unsigned>(std::stoi(text));
}

// The removal list as the pack entry REMOVE (payload/RemoveList.h), dated
// as the strings file so that the same folders give the same patch.
void AddRemoveList(const std::vector<RemovedFile>& removals, const ScratchFolder& scratch,
                   std::vector<PatchSource>* sources)
{
    if (removals.empty())
        return;
    const std::string path = scratch.Path() + "/remove-list";
    const std::string text = RemoveListText(removals);
    WriteOutputFile(path, std::vector<uint8_t>(text.begin(), text.end()), static_cast<fs::perms>(0644));
    PatchSource source = DescribeSource(kRemoveListName, path);
    for (const PatchSource& other : *sources)
        if (other.packName == kStringsPackName)
            source.dosDateTime = other.dosDateTime;
    sources->push_back(source);
    std::sort(sources->begin(), sources->end(),
              [](const PatchSource& a, const PatchSource& b) { return a.packName < b.packName; });
}

int RunBuild(const std::vector<std::string>& args)
{
    const BuildOptions options = ParseOptions(args);
    const unsigned threads = ThreadCount(options.threads);
    const std::vector<uint8_t> stub = ReadSourceFile(options.stub);
    const std::string stubProblem = StubProblem(stub);
    if (!stubProblem.empty())
        throw ToolError("the stub " + options.stub + " is no patcher: " + stubProblem);
    std::vector<PatchSource> sources;
    std::unique_ptr<ScratchFolder> scratch; // the deltas until they are in the patch
    std::string baseFolder; // the base the shortcut's target is looked for in
    if (options.bases.empty()) {
        sources = CollectPatchSources(options.strings, options.files);
    } else if (AreVersioned(options.bases)) {
        scratch.reset(new ScratchFolder);
        DeltaPlan plan = PlanDeltas(options.bases, options.from, options.whole, threads, scratch.get());
        plan.removals = PlanRemovals(plan.diffs, options.keep);
        PrintDeltaPlan(plan, options.bases, stdout);
        if (plan.Conflicts())
            throw ToolError("the patcher cannot turn every base into the new version (conflicts above); no patch "
                            "written");
        sources = CollectPatchSources(options.strings, options.files,
                                      [&plan](const std::string& relative) { return plan.CarriesWhole(relative); });
        for (const PlannedFile& file : plan.files)
            for (const DeltaPiece& piece : file.deltas) {
                PatchSource source = DescribeSource(piece.packName, (fs::path(options.from) / file.relative).string());
                source.hostPath = piece.path;
                source.size = piece.size;
                sources.push_back(source);
            }
        std::sort(sources.begin(), sources.end(),
                  [](const PatchSource& a, const PatchSource& b) { return a.packName < b.packName; });
        AddRemoveList(plan.removals, *scratch, &sources);
        const std::string uncovered = VersionsWithoutBase(ReadSourceFile(options.strings), options.bases);
        if (plan.HasDeltaOnlyFile() && !uncovered.empty()) {
            std::fprintf(stderr, "%s: error: %s\n", options.strings.c_str(), VersionWindowError(uncovered).c_str());
            if (!options.allowErrors)
                throw ToolError("the patch would leave games it accepts unpatched; no patch written");
        }
        // Every base must hold the shortcut's target when the patch does not.
        baseFolder = options.bases.front().folder;
        for (const GameBase& base : options.bases)
            if (!HasShortcutTarget(base.folder))
                baseFolder = base.folder;
    } else {
        baseFolder = options.bases.front().folder;
        DiffPlan plan = PlanVersionDiff(baseFolder, options.from);
        plan.removals = PlanRemovals({plan}, options.keep);
        PrintPlan(plan, false, stdout);
        if (plan.Count(DiffEntry::kConflict))
            throw ToolError("the patcher cannot turn the old version into the new one (conflicts above); no patch "
                            "written");
        sources = CollectPatchSources(options.strings, options.files,
                                      [&plan](const std::string& relative) { return plan.Carries(relative); });
        scratch.reset(new ScratchFolder);
        AddRemoveList(plan.removals, *scratch, &sources);
    }
    const size_t errors = CheckSourceStrings(options.strings, sources, baseFolder, stderr);
    if (errors && !options.allowErrors)
        throw ToolError(std::to_string(errors) + (errors == 1 ? " error" : " errors") +
                        " in the strings file; no patch written");

    CheckPatchFits(stub, sources, threads);
    uint64_t bytes = 0;
    for (const PatchSource& source : sources)
        bytes += source.size;
    OutputStream out(options.out);
    Progress progress(sources.size(), bytes);
    const PatchWriteResult written = WritePatch(stub, sources, threads, &out, &progress);
    progress.Finish();
    std::error_code error;
    const fs::perms stubPermissions = fs::status(options.stub, error).permissions();
    out.Commit(error ? static_cast<fs::perms>(0644) : stubPermissions);
    std::printf("%s: %zu files, pack %u bytes, container at offset %llu, %llu bytes in all\n", options.out.c_str(),
                sources.size(), written.packSize, static_cast<unsigned long long>(written.payloadOffset),
                static_cast<unsigned long long>(written.patchSize));
    return 0;
}

const CommandRegistration kBuild({"build", kUsage, "writes a patch: the patcher with the pack appended", RunBuild,
                                  {"--stub=", "--strings=", "--files=", "--from=", "--base=", "--out=", "--threads=",
                                   "--allow-errors", "--whole", "--keep="}});

} // namespace
