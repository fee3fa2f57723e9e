// The files a patch carries: the strings file as "PATCH.INI" and every file
// below the files folder as "FILES\...", checked against the pack's and
// Windows' naming rules and sorted by pack name. Every folder tree the tool
// reads (files folder, new and old game folders) is listed by ListSourceTree.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct PatchSource {
    std::string packName;
    std::string hostPath;
    uint32_t dosDateTime = 0;
    uint64_t size = 0;
};

// A file of a tree: its path below the root ('/'-separated, as written; a
// symbolic link under its own name) and where it is read.
struct TreeFile {
    std::string relative;
    std::string path;
    uint64_t size = 0;
};

struct SourceTree {
    std::vector<TreeFile> files;           // in listing order
    std::vector<std::string> folders;      // relative paths
    std::vector<std::string> emptyFolders; // host paths
};

// Lists every file and folder below root. A symbolic link is listed as what
// it leads to, under its own name, when that stays inside root; one that
// leads out of it, nowhere or into a loop is refused, naming the link. Also
// refused: two paths Windows cannot tell apart (letter case aside), an entry
// that is neither a file nor a folder.
SourceTree ListSourceTree(const std::string& root);

// The pack name of the file at relative ('/'-separated) below the files
// folder root, when a patch may carry it: every name passes the patcher's
// own rule (PatchFileNameFault) and the pack name fits. ToolError otherwise,
// naming the file and the reason. Every build form runs every carried file
// through this.
std::string CarriedPackName(const std::string& root, const std::string& relative);

// Throws ToolError naming the problem: a missing strings file or files
// folder, anything ListSourceTree or CarriedPackName refuses, a file of 4 GiB
// or more.
// With carry, only the files for whose path below the files folder
// ('/'-separated) it answers true are collected and checked.
std::vector<PatchSource> CollectPatchSources(const std::string& stringsFile, const std::string& filesFolder,
                                             const std::function<bool(const std::string&)>& carry = nullptr);

// The source of packName read from path, dated as the build dates entries
// (the file's time, or SOURCE_DATE_EPOCH).
PatchSource DescribeSource(const std::string& packName, const std::string& path);

// In a folder, the entry of that name in any letter case ("" when there is
// none); throws when two entries match.
std::string FindNoCase(const std::string& folder, const std::string& name);

// The whole of a host file; ToolError when it cannot be read.
std::vector<uint8_t> ReadSourceFile(const std::string& path);
