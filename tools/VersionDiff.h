// The plan of a patch built from two versions of the game: every file of the
// new folder that is new or differs from the old folder goes into the patch;
// files equal in both are left out. Names compare without regard to letter
// case, as Windows compares them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

struct DiffEntry {
    enum Kind { kNew, kChanged, kSame, kOnlyOld, kConflict } kind;
    std::string relative; // '/'-separated, as written in the new folder (the old one for kOnlyOld)
    uint64_t size = 0;
    std::string why;      // kConflict: what stands in the way
    std::string oldPath;  // kChanged and kSame: the old folder's file
};

struct DiffPlan {
    std::vector<DiffEntry> entries; // in relative-path order
    std::set<std::string> carried;  // relative paths of the new and changed files
    size_t Count(DiffEntry::Kind kind) const;
    // Whether the new folder's file at relative goes into the patch.
    bool Carries(const std::string& relative) const;
};

// Compares the two folders, each listed by ListSourceTree (PatchSources.h).
// ToolError when one cannot be read or listed.
DiffPlan PlanVersionDiff(const std::string& oldFolder, const std::string& newFolder);

// Prints the plan: with all, every entry; otherwise only what the patch
// leaves out or cannot do.
void PrintPlan(const DiffPlan& plan, bool all, std::FILE* out);
