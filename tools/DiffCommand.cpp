// qptool diff: what a two-version build (qptool build --base ... --from ...)
// would carry, leave out and be unable to do, without building.
#include "Command.h"
#include "DeltaPlan.h"
#include "GameBase.h"
#include "VersionDiff.h"

#include <cstdio>

namespace {

const char kDiffUsage[] = "--base <old game folder> --from <new game folder>\n"
                      "            | --base <version>=<folder> [--base <version>=<folder> ...] --from <new game folder> "
                      "[--whole]\n            [--keep <path> ...]";

int RunDiff(const std::vector<std::string>& args)
{
    std::vector<std::string> baseValues;
    std::string from;
    std::vector<std::string> keep;
    bool whole = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--whole")
            whole = true;
        else if (args[i] == "--base" && i + 1 < args.size())
            baseValues.push_back(args[++i]);
        else if (args[i] == "--keep" && i + 1 < args.size())
            keep.push_back(args[++i]);
        else if (args[i] == "--from" && i + 1 < args.size() && from.empty())
            from = args[++i];
        else
            throw ToolError(std::string("usage: qptool diff ") + kDiffUsage);
    }
    if (baseValues.empty() || from.empty())
        throw ToolError(std::string("usage: qptool diff ") + kDiffUsage);
    const std::vector<GameBase> bases = ParseGameBases(baseValues);
    if (AreVersioned(bases)) {
        // The deltas are made to be measured, and dropped.
        DeltaPlan plan = PlanDeltas(bases, from, whole, 0, nullptr);
        plan.removals = PlanRemovals(plan.diffs, keep);
        PrintDeltaPlan(plan, bases, stdout);
        return plan.Conflicts() ? 1 : 0;
    }
    if (whole)
        throw ToolError("--whole goes with --base <version>=<folder>");
    DiffPlan plan = PlanVersionDiff(bases.front().folder, from);
    plan.removals = PlanRemovals({plan}, keep);
    PrintPlan(plan, true, stdout);
    return plan.Count(DiffEntry::kConflict) ? 1 : 0;
}

const CommandRegistration kDiff({"diff", kDiffUsage,
                                 "lists what a patch from the old version(s) to the new one carries: whole files, "
                                 "deltas with their sizes, what it leaves out and removes",
                                 RunDiff, {"--base=", "--from=", "--whole", "--keep="}});

} // namespace
