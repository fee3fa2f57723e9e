// Collects and checks the files of a patch.
#include "PatchSources.h"

#include "Command.h"
#include "DosTime.h"
#include "PackNames.h"

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

// A symbolic link stays when it leads inside the tree; one that leads out
// of it, nowhere, or to a folder holding the link itself (a loop) is
// refused, naming the link.
void CheckLink(const fs::path& link, const fs::path& realRoot)
{
    std::error_code error;
    const fs::path target = fs::read_symlink(link, error);
    const std::string named = "cannot carry the symbolic link " + link.string() + " (to " + target.string() + "): ";
    const fs::path real = fs::canonical(link, error);
    if (error == std::errc::too_many_symbolic_link_levels)
        throw ToolError(named + "it leads into a loop");
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

} // namespace

SourceTree ListSourceTree(const std::string& root)
{
    std::error_code error;
    const fs::path realRoot = fs::canonical(root, error);
    if (error)
        throw ToolError("cannot list " + root + ": " + error.message());
    fs::recursive_directory_iterator it(root, fs::directory_options::follow_directory_symlink, error), end;
    if (error)
        throw ToolError("cannot list " + root + ": " + error.message());
    SourceTree tree;
    std::map<std::string, std::string> seen; // folded relative path -> as written, files and folders
    for (; it != end; it.increment(error)) {
        if (error)
            break;
        const fs::path& path = it->path();
        if (it->is_symlink())
            CheckLink(path, realRoot);
        // Lexically: a link keeps its own name.
        const std::string relative = path.lexically_relative(root).generic_string();
        const auto [other, fresh] = seen.emplace(Lower(relative), relative);
        if (!fresh)
            throw ToolError(root + " holds both " + other->second + " and " + relative +
                            ", which differ only in letter case: Windows cannot tell them apart");
        if (it->is_directory()) {
            tree.folders.push_back(relative);
            if (fs::is_empty(path, error))
                tree.emptyFolders.push_back(path.string());
        } else if (it->is_regular_file()) {
            tree.files.push_back({relative, path.string(), it->file_size()});
        } else {
            throw ToolError(path.string() + " is neither a file nor a folder");
        }
    }
    if (error)
        throw ToolError("cannot list below " + root + ": " + error.message());
    return tree;
}

std::string CarriedPackName(const std::string& root, const std::string& relative)
{
    const fs::path path = fs::path(root) / relative;
    std::vector<std::string> components;
    for (const fs::path& part : fs::path(relative))
        components.push_back(part.string());
    for (const std::string& component : components) {
        const std::string problem = ComponentProblem(component);
        if (!problem.empty())
            throw ToolError("cannot carry " + path.string() + ": \"" + component + "\" is " + problem);
    }
    const std::string name = FilesPackName(components);
    if (name.size() > kMaxPackNameLength)
        throw ToolError("cannot carry " + path.string() + ": its pack name " + name + " is longer than " +
                        std::to_string(kMaxPackNameLength) + " characters");
    return name;
}

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
    const SourceTree tree = ListSourceTree(filesFolder);
    for (const TreeFile& file : tree.files)
        if (!carry || carry(file.relative))
            sources.push_back(SourceOf(CarriedPackName(filesFolder, file.relative), file.path, fixed));
    // A pack holds only files; an empty folder cannot be carried.
    if (!carry)
        for (const std::string& folder : tree.emptyFolders)
            std::fprintf(stderr, "warning: the empty folder %s is not carried\n", folder.c_str());
    std::sort(sources.begin(), sources.end(),
              [](const PatchSource& a, const PatchSource& b) { return a.packName < b.packName; });
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
