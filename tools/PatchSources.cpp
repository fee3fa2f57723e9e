// Collects and checks the files of a patch.
#include "PatchSources.h"

#include "Command.h"
#include "DosTime.h"
#include "PackNames.h"

#include "file/PlainFileName.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>

namespace fs = std::filesystem;

namespace {

std::string Lower(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// Every entry's time, when SOURCE_DATE_EPOCH fixes one.
std::optional<uint32_t> FixedDosTime()
{
    std::optional<std::time_t> epoch;
    if (!SourceDateEpoch(&epoch))
        throw ToolError("SOURCE_DATE_EPOCH must be a count of seconds since 1970");
    if (!epoch)
        return std::nullopt;
    return DosDateTimeOfUtc(*epoch);
}

PatchSource SourceOf(const std::string& packName, const fs::path& path, const std::optional<uint32_t>& fixed)
{
    std::error_code error;
    const uintmax_t size = fs::file_size(path, error);
    if (error)
        throw ToolError("cannot read " + path.string() + ": " + error.message());
    if (size > 0xFFFFFFFFull)
        throw ToolError(path.string() + " is 4 GiB or larger; a pack holds files below that size");
    std::time_t time = 0;
    if (!fixed && !ModificationTime(path.string(), &time))
        throw ToolError("cannot read the time of " + path.string());
    PatchSource source;
    source.packName = packName;
    source.hostPath = path.string();
    source.dosDateTime = fixed ? *fixed : DosDateTimeOf(time);
    source.size = size;
    return source;
}

// A symbolic link is carried as what it leads to, under its own name, when
// that stays inside the tree; one that leads out of it, nowhere, or to a
// folder holding the link itself (a loop) is refused, naming the link.
void CheckLink(const fs::path& link, const fs::path& realRoot)
{
    std::error_code error;
    const fs::path target = fs::read_symlink(link, error);
    const std::string named = "cannot carry the symbolic link " + link.string() + " (to " + target.string() + "): ";
    const fs::path real = fs::canonical(link, error);
    if (error)
        throw ToolError(named + "it leads nowhere");
    const auto inside = [](const fs::path& path, const fs::path& folder) {
        const fs::path relative = path.lexically_relative(folder);
        return !relative.empty() && *relative.begin() != "..";
    };
    if (!inside(real, realRoot))
        throw ToolError(named + "it leads out of " + realRoot.string());
    if (fs::is_directory(real) && inside(fs::canonical(link.parent_path(), error), real))
        throw ToolError(named + "it leads to a folder that holds it, a loop");
}

void CollectFiles(const fs::path& root, std::vector<PatchSource>& sources, const std::optional<uint32_t>& fixed,
                  const std::function<bool(const std::string&)>& carry)
{
    std::error_code error;
    const fs::path realRoot = fs::canonical(root, error);
    if (error)
        throw ToolError("cannot list " + root.string() + ": " + error.message());
    fs::recursive_directory_iterator it(root, fs::directory_options::follow_directory_symlink, error), end;
    if (error)
        throw ToolError("cannot list " + root.string() + ": " + error.message());
    std::vector<fs::path> emptyFolders;
    for (; it != end; it.increment(error)) {
        if (error)
            throw ToolError("cannot list below " + root.string() + ": " + error.message());
        const fs::path& path = it->path();
        if (it->is_symlink())
            CheckLink(path, realRoot);
        // Only what is carried must meet the naming rules; its folders are
        // checked as parts of its name.
        if (carry && (it->is_directory() || !carry(path.lexically_relative(root).generic_string())))
            continue;
        std::vector<std::string> components;
        for (const fs::path& part : path.lexically_relative(root))
            components.push_back(part.string());
        for (const std::string& component : components) {
            const std::string problem = ComponentProblem(component);
            if (!problem.empty())
                throw ToolError("cannot carry " + path.string() + ": \"" + component + "\" is " + problem);
        }
        if (it->is_directory()) {
            if (fs::is_empty(path))
                emptyFolders.push_back(path);
            continue;
        }
        if (!it->is_regular_file())
            throw ToolError(path.string() + " is neither a file nor a folder");
        const std::string name = FilesPackName(components);
        // What the patcher itself refuses to write below the game folder.
        if (!IsPatchFilePath(BelowFilesFolder(name).c_str()))
            throw ToolError("cannot carry " + path.string() + ": the patcher writes no file of that name (a "
                            "device name, or its own temporary suffix " + kPartialFileSuffix + ")");
        if (name.size() > kMaxPackNameLength)
            throw ToolError("cannot carry " + path.string() + ": its pack name " + name + " is longer than " +
                            std::to_string(kMaxPackNameLength) + " characters");
        sources.push_back(SourceOf(name, path, fixed));
    }
    // A pack holds only files; an empty folder cannot be carried.
    for (const fs::path& folder : emptyFolders)
        std::fprintf(stderr, "qptool build: warning: the empty folder %s is not carried\n", folder.string().c_str());
}

// Two pack names that are equal, or one that is the folder of another.
void RefuseClashes(const std::vector<PatchSource>& sources)
{
    std::map<std::string, const PatchSource*> byName;
    for (const PatchSource& source : sources) {
        const auto [it, inserted] = byName.emplace(source.packName, &source);
        if (!inserted)
            throw ToolError(it->second->hostPath + " and " + source.hostPath +
                            " differ only in letter case; both would be " + source.packName);
    }
    for (const PatchSource& source : sources) {
        const auto next = byName.lower_bound(source.packName + "\\");
        if (next != byName.end() && next->first.compare(0, source.packName.size() + 1, source.packName + "\\") == 0)
            throw ToolError(source.hostPath + " has the name of the folder of " + next->second->hostPath +
                            " in letter case only; both would be " + source.packName);
    }
}

} // namespace

PatchSource DescribeSource(const std::string& packName, const std::string& path)
{
    return SourceOf(packName, path, FixedDosTime());
}

std::string FindNoCase(const std::string& folder, const std::string& name)
{
    std::string found;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        const std::string entryName = entry.path().filename().string();
        if (Lower(entryName) != Lower(name))
            continue;
        if (!found.empty())
            throw ToolError(folder + " holds both " + fs::path(found).filename().string() + " and " + entryName);
        found = entry.path().string();
    }
    if (error)
        throw ToolError("cannot list " + folder + ": " + error.message());
    return found;
}

std::vector<PatchSource> CollectPatchSources(const std::string& stringsFile, const std::string& filesFolder,
                                             const std::function<bool(const std::string&)>& carry)
{
    std::error_code error;
    if (stringsFile.empty() || !fs::is_regular_file(stringsFile, error))
        throw ToolError("the strings file Patch.ini is missing" +
                        (stringsFile.empty() ? std::string() : " (" + stringsFile + ")"));
    if (filesFolder.empty() || !fs::is_directory(filesFolder, error))
        throw ToolError("the files folder is missing" +
                        (filesFolder.empty() ? std::string() : " (" + filesFolder + ")"));
    const std::optional<uint32_t> fixed = FixedDosTime();
    std::vector<PatchSource> sources{SourceOf(kStringsPackName, stringsFile, fixed)};
    CollectFiles(filesFolder, sources, fixed, carry);
    std::sort(sources.begin(), sources.end(),
              [](const PatchSource& a, const PatchSource& b) { return a.packName < b.packName; });
    RefuseClashes(sources);
    return sources;
}

std::vector<uint8_t> ReadSourceFile(const std::string& path)
{
    // Sized once from the file's length: growing while reading would hold
    // up to three times the file at once, and the delta encoder's peak
    // memory is mostly these buffers.
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in)
        throw ToolError("cannot read " + path);
    const std::streamoff size = in.tellg();
    if (size < 0 || !in.seekg(0))
        throw ToolError("cannot read " + path);
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    if (!in.read(reinterpret_cast<char*>(bytes.data()), size))
        throw ToolError("cannot read " + path);
    return bytes;
}
