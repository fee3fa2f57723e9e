// qptool diff: what a two-version build (qptool build --base ... --from ...)
// would carry, leave out and be unable to do, without building.
#include "Command.h"
#include "VersionDiff.h"

#include <cstdio>

namespace {

int RunDiff(const std::vector<std::string>& args)
{
    std::string base, from;
    for (size_t i = 0; i + 1 < args.size(); i += 2) {
        if (args[i] == "--base")
            base = args[i + 1];
        else if (args[i] == "--from")
            from = args[i + 1];
    }
    if (base.empty() || from.empty() || args.size() != 4)
        throw ToolError("usage: qptool diff --base <old game folder> --from <new game folder>");
    const DiffPlan plan = PlanVersionDiff(base, from);
    PrintPlan(plan, true, stdout);
    return plan.Count(DiffEntry::kConflict) ? 1 : 0;
}

const CommandRegistration kDiff({"diff", "--base <old game folder> --from <new game folder>",
                                 "lists what a patch from the old to the new version carries and leaves out",
                                 RunDiff, {"--base=", "--from="}});

} // namespace
