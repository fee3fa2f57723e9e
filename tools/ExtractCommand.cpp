// qptool extract: writes every file of a pack file, a container, a patch
// executable or an HPFS pack below a host folder, the stored paths becoming
// subfolders. A stored name that would leave the folder ("..", an empty
// part, a drive or a host separator) is refused before anything is written.
#include "Command.h"
#include "HpfsTree.h"
#include "InspectInput.h"
#include "PackDirectory.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

// The host path below root of a stored backslash-separated name.
fs::path SafeTarget(const fs::path& root, const std::string& name) {
    fs::path target = root;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find('\\', start);
        if (end == std::string::npos) end = name.size();
        const std::string part = name.substr(start, end - start);
        if (part.empty() || part == "." || part == ".." || part.find_first_of("/:") != std::string::npos)
            throw ToolError("refusing the stored name \"" + name + "\": it would not stay inside the folder");
        target /= part;
        start = end + 1;
    }
    return target;
}

struct OutputItem {
    fs::path target;
    const uint8_t* bytes;
    size_t size;
};

void WriteItem(const OutputItem& item) {
    fs::create_directories(item.target.parent_path());
    std::ofstream out(item.target, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(item.bytes), std::streamsize(item.size));
    out.close();
    if (!out) throw ToolError("cannot write " + item.target.string());
}

int RunExtract(const std::vector<std::string>& args) {
    if (args.size() != 2) throw ToolError("usage: qptool extract <file> <folder>");
    const InspectInput input = ReadInspectInput(args[0]);
    const std::vector<uint8_t> contents = DecodedContents(input);
    const InputKind kind = ContentsKind(input, contents);
    const fs::path root = args[1];
    std::vector<OutputItem> items;
    std::vector<fs::path> folders;  // HPFS directories, empty ones included
    std::vector<HpfsItem> tree;
    std::vector<PackListEntry> entries;
    if (kind == InputKind::Hpfs) {
        tree = ReadHpfsTree(contents, true);
        for (const HpfsItem& item : tree) {
            std::string name = item.directory ? item.path.substr(0, item.path.size() - 1) : item.path;
            if (item.directory) folders.push_back(SafeTarget(root, name));
            else items.push_back({SafeTarget(root, name), item.bytes.data(), item.bytes.size()});
        }
    } else {
        const PackFault fault = ReadPackDirectory(contents, &entries);
        if (!fault.what.empty())
            throw ToolError("damaged pack at pack offset " + std::to_string(fault.offset) + ": " + fault.what);
        for (const PackListEntry& entry : entries)
            items.push_back({SafeTarget(root, entry.name), contents.data() + entry.offset, entry.size});
    }
    std::error_code error;
    fs::create_directories(root, error);
    if (error) throw ToolError("cannot make the folder " + root.string() + ": " + error.message());
    for (const fs::path& folder : folders) fs::create_directories(folder);
    for (const OutputItem& item : items) WriteItem(item);
    std::printf("%s: %zu files written below %s\n", DescribeInput(input, kind).c_str(), items.size(), root.string().c_str());
    return 0;
}

const CommandRegistration kExtract({"extract", "<file> <folder>",
                                    "writes the files of a pack, container, patch executable or HPFS pack",
                                    RunExtract});

}  // namespace
