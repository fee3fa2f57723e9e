// Compares two game folders file by file.
#include "VersionDiff.h"

#include "Command.h"
#include "PatchSources.h"

#include "payload/DeltaKey.h"
#include "payload/PatchCrc.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

namespace fs = std::filesystem;

std::string Folded(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

namespace {

struct Tree {
    std::map<std::string, TreeFile> files; // by folded relative path
    std::set<std::string> folders;         // folded
};

Tree Walk(const std::string& root)
{
    if (!fs::is_directory(root))
        throw ToolError("the folder " + root + " is missing");
    Tree tree;
    const SourceTree listed = ListSourceTree(root);
    for (const TreeFile& file : listed.files)
        tree.files[Folded(file.relative)] = file;
    for (const std::string& folder : listed.folders)
        tree.folders.insert(Folded(folder));
    return tree;
}

bool SameContents(const TreeFile& a, const TreeFile& b)
{
    if (a.size != b.size)
        return false;
    std::ifstream left(a.path, std::ios::binary), right(b.path, std::ios::binary);
    if (!left || !right)
        throw ToolError("cannot read " + (!left ? a.path : b.path));
    std::vector<char> x(1 << 16), y(1 << 16);
    for (;;) {
        left.read(x.data(), static_cast<std::streamsize>(x.size()));
        right.read(y.data(), static_cast<std::streamsize>(y.size()));
        if (left.gcount() != right.gcount() || left.bad() || right.bad())
            throw ToolError("cannot read " + a.path + " or " + b.path + " to the end");
        if (!std::equal(x.begin(), x.begin() + left.gcount(), y.begin()))
            return false;
        if (left.gcount() == 0 || left.eof())
            return true;
    }
}

} // namespace

size_t DiffPlan::Count(DiffEntry::Kind kind) const
{
    return static_cast<size_t>(
        std::count_if(entries.begin(), entries.end(), [kind](const DiffEntry& e) { return e.kind == kind; }));
}

bool DiffPlan::Carries(const std::string& relative) const { return carried.count(relative) != 0; }

DiffPlan PlanVersionDiff(const std::string& oldFolder, const std::string& newFolder)
{
    const Tree before = Walk(oldFolder);
    const Tree after = Walk(newFolder);
    DiffPlan plan;
    for (const auto& [folded, file] : after.files) {
        DiffEntry entry{DiffEntry::kNew, file.relative, file.size, "", ""};
        for (size_t slash = folded.find('/'); slash != std::string::npos; slash = folded.find('/', slash + 1))
            if (before.files.count(folded.substr(0, slash)))
                entry.why = "the old version has a file " + before.files.at(folded.substr(0, slash)).relative +
                            " where this needs a folder";
        if (before.folders.count(folded))
            entry.why = "the old version has a folder of that name";
        const auto old = before.files.find(folded);
        if (!entry.why.empty())
            entry.kind = DiffEntry::kConflict;
        else if (old != before.files.end()) {
            entry.kind = SameContents(old->second, file) ? DiffEntry::kSame : DiffEntry::kChanged;
            entry.oldPath = old->second.path;
        }
        if (entry.kind == DiffEntry::kNew || entry.kind == DiffEntry::kChanged)
            plan.carried.insert(entry.relative);
        plan.entries.push_back(entry);
    }
    for (const auto& [folded, file] : before.files)
        if (!after.files.count(folded))
            plan.entries.push_back({DiffEntry::kOnlyOld, file.relative, file.size, "", file.path});
    std::sort(plan.entries.begin(), plan.entries.end(),
              [](const DiffEntry& a, const DiffEntry& b) { return Folded(a.relative) < Folded(b.relative); });
    return plan;
}

void PrintPlan(const DiffPlan& plan, bool all, std::FILE* out)
{
    uint64_t carried = 0;
    for (const DiffEntry& entry : plan.entries) {
        const bool goes = entry.kind == DiffEntry::kNew || entry.kind == DiffEntry::kChanged;
        carried += goes ? entry.size : 0;
        if (goes && !all)
            continue;
        switch (entry.kind) {
        case DiffEntry::kNew: std::fprintf(out, "new       %s\n", entry.relative.c_str()); break;
        case DiffEntry::kChanged: std::fprintf(out, "changed   %s\n", entry.relative.c_str()); break;
        case DiffEntry::kSame: std::fprintf(out, "left out  %s (the same in the old version)\n", entry.relative.c_str()); break;
        case DiffEntry::kOnlyOld: PrintOnlyOld(plan.removals, entry.relative, "kept", out); break;
        case DiffEntry::kConflict:
            std::fprintf(out, "conflict  %s: %s\n", entry.relative.c_str(), entry.why.c_str());
            break;
        }
    }
    std::fprintf(out, "%zu new and %zu changed files carried (%llu bytes), %zu left out as equal, %zu only in the "
                      "old version (%zu removed), %zu conflicts\n",
                 plan.Count(DiffEntry::kNew), plan.Count(DiffEntry::kChanged),
                 static_cast<unsigned long long>(carried), plan.Count(DiffEntry::kSame),
                 plan.Count(DiffEntry::kOnlyOld), plan.removals.size(), plan.Count(DiffEntry::kConflict));
}

namespace {

std::string KeepName(std::string path)
{
    for (char& c : path)
        if (c == '\\')
            c = '/';
    while (!path.empty() && (path.front() == '/' || path.compare(0, 2, "./") == 0))
        path.erase(0, path.front() == '/' ? 1 : 2);
    while (!path.empty() && path.back() == '/')
        path.pop_back();
    return Folded(path);
}

bool Kept(const std::string& folded, const std::string& keep)
{
    return folded == keep || (folded.size() > keep.size() && folded.compare(0, keep.size(), keep) == 0 &&
                              folded[keep.size()] == '/');
}

} // namespace

std::vector<RemovedFile> PlanRemovals(const std::vector<DiffPlan>& diffs, const std::vector<std::string>& keep)
{
    std::vector<std::string> keeps;
    for (const std::string& path : keep)
        keeps.push_back(KeepName(path));
    std::vector<bool> used(keeps.size(), false);
    // Every base's old-only files by folded path: those all of them have go.
    std::map<std::string, std::vector<const DiffEntry*>> olds;
    for (const DiffPlan& diff : diffs)
        for (const DiffEntry& entry : diff.entries)
            if (entry.kind == DiffEntry::kOnlyOld)
                olds[Folded(entry.relative)].push_back(&entry);
    std::vector<RemovedFile> removals;
    for (const auto& [folded, entries] : olds) {
        if (entries.size() != diffs.size())
            continue;
        bool kept = false;
        for (size_t k = 0; k < keeps.size(); ++k)
            if (Kept(folded, keeps[k]))
                kept = used[k] = true;
        if (kept)
            continue;
        RemovedFile file{entries.front()->relative, {}};
        for (const DiffEntry* entry : entries) {
            const std::vector<uint8_t> bytes = ReadSourceFile(entry->oldPath);
            const std::pair<uint32_t, uint32_t> content(static_cast<uint32_t>(bytes.size()),
                                                        Crc32(bytes.data(), bytes.size()));
            if (std::find(file.contents.begin(), file.contents.end(), content) == file.contents.end())
                file.contents.push_back(content);
        }
        removals.push_back(file);
    }
    for (size_t k = 0; k < keeps.size(); ++k)
        if (!used[k])
            throw ToolError("--keep " + keep[k] + ": no file the patch would remove has that name");
    return removals;
}

std::string BackslashPath(std::string relative)
{
    std::replace(relative.begin(), relative.end(), '/', '\\');
    return relative;
}

std::string RemoveListText(const std::vector<RemovedFile>& removals)
{
    std::string text;
    for (const RemovedFile& file : removals)
        for (const auto& [size, crc] : file.contents) {
            char key[kDeltaKeyLength + 1];
            FormatDeltaKey(size, crc, key);
            text += std::string(key) + " " + BackslashPath(file.relative) + "\r\n";
        }
    return text;
}

void PrintOnlyOld(const std::vector<RemovedFile>& removals, const std::string& relative, const std::string& why,
                  std::FILE* out)
{
    for (const RemovedFile& file : removals)
        if (Folded(file.relative) == Folded(relative)) {
            std::fprintf(out, "remove    %s (%zu old content%s)\n", relative.c_str(), file.contents.size(),
                         file.contents.size() == 1 ? "" : "s");
            return;
        }
    std::fprintf(out, "stays     %s (%s)\n", relative.c_str(), why.c_str());
}
