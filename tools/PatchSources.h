// The files a patch carries: the strings file as "PATCH.INI" and every file
// below the files folder as "FILES\...", checked against the pack's and
// Windows' naming rules and sorted by pack name.
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

// Throws ToolError naming the problem: a missing strings file or files
// folder, a name that cannot be carried, two names that differ only in
// letter case, a file that is also a folder's name in the pack, an entry
// that is neither a file nor a folder, a file of 4 GiB or more.
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
