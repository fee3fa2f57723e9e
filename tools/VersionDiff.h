// The plan of a patch built from two versions of the game: every file of the
// new folder that is new or differs from the old folder goes into the patch;
// files equal in both are left out. Names compare without regard to letter
// case, as Windows compares them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <utility>
#include <vector>

// A name as Windows compares it: the ASCII letters folded to lower case.
std::string Folded(std::string text);

struct DiffEntry {
    enum Kind { kNew, kChanged, kSame, kOnlyOld, kConflict } kind;
    std::string relative; // '/'-separated, as written in the new folder (the old one for kOnlyOld)
    uint64_t size = 0;
    std::string why;      // kConflict: what stands in the way
    std::string oldPath;  // kChanged and kSame: the old folder's file
};

// A file every base has and the new folder lacks: the patch removes it,
// while it still has one of its old contents, unless --keep keeps it.
struct RemovedFile {
    std::string relative;                                 // '/'-separated, as the first base writes it
    std::vector<std::pair<uint32_t, uint32_t>> contents;  // each distinct old size and CRC-32
};

struct DiffPlan {
    std::vector<DiffEntry> entries; // in relative-path order
    std::set<std::string> carried;  // relative paths of the new and changed files
    std::vector<RemovedFile> removals;  // set by PlanRemovals
    size_t Count(DiffEntry::Kind kind) const;
    // Whether the new folder's file at relative goes into the patch.
    bool Carries(const std::string& relative) const;
};

// Compares the two folders, each listed by ListSourceTree (PatchSources.h).
// ToolError when one cannot be read or listed.
DiffPlan PlanVersionDiff(const std::string& oldFolder, const std::string& newFolder);

// The files only in the old folders that every one of diffs (each a base
// against the same new folder) has, but those that keep names (a path below
// the game folder, any letter case, '/' or '\\'; a folder keeps everything
// below it). ToolError for a keep that keeps nothing.
std::vector<RemovedFile> PlanRemovals(const std::vector<DiffPlan>& diffs, const std::vector<std::string>& keep);
// A '/'-separated relative path as the patcher names it, with backslashes.
std::string BackslashPath(std::string relative);
// The pack's removal list (payload/RemoveList.h), "" when nothing is removed.
std::string RemoveListText(const std::vector<RemovedFile>& removals);
// "remove    <path> (...)" for a removed file, "stays     <path> (why)" for
// another file only in an old folder.
void PrintOnlyOld(const std::vector<RemovedFile>& removals, const std::string& relative, const std::string& why,
                  std::FILE* out);

// Prints the plan: with all, every entry; otherwise only what the patch
// leaves out or cannot do.
void PrintPlan(const DiffPlan& plan, bool all, std::FILE* out);
