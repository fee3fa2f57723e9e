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

constexpr uint32_t kChunk = 256 * 1024;  // a pack entry is copied out in pieces of this size

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

// A file to write: an HPFS file's bytes, or a pack entry's range of the image.
struct OutputItem {
    fs::path target;
    const std::vector<uint8_t>* bytes;
    uint32_t offset, size;
};

void WriteItem(const OutputItem& item, CFile* image) {
    fs::create_directories(item.target.parent_path());
    std::ofstream out(item.target, std::ios::binary | std::ios::trunc);
    if (item.bytes) {
        out.write(reinterpret_cast<const char*>(item.bytes->data()), std::streamsize(item.bytes->size()));
    } else {
        std::vector<uint8_t> chunk(item.size < kChunk ? item.size : kChunk);
        for (uint32_t done = 0; done < item.size && out;) {
            const uint32_t n = item.size - done < kChunk ? item.size - done : kChunk;
            if (ErrorCode error = ReadExactly(image, item.offset + done, chunk.data(), n))
                throw ToolError("cannot read " + item.target.filename().string() + " from the pack: " + ErrorText(error));
            out.write(reinterpret_cast<const char*>(chunk.data()), n);
            done += n;
        }
    }
    out.close();
    if (!out) throw ToolError("cannot write " + item.target.string());
}

int RunExtract(const std::vector<std::string>& args) {
    if (args.size() != 2) throw ToolError("usage: qptool extract <file> <folder>");
    const InspectInput input = ReadInspectInput(args[0]);
    RequireSoundContainer(input);
    InspectChain chain(input);
    const InputKind kind = chain.ContentsKind();
    const fs::path root = args[1];
    std::vector<OutputItem> items;
    std::vector<fs::path> folders;  // HPFS directories, empty ones included
    std::vector<HpfsItem> tree;
    if (kind == InputKind::Hpfs) {
        tree = ReadHpfsTree(ReadWholeImage(chain.Image()), true);
        for (const HpfsItem& item : tree) {
            std::string name = item.directory ? item.path.substr(0, item.path.size() - 1) : item.path;
            if (item.directory) folders.push_back(SafeTarget(root, name));
            else items.push_back({SafeTarget(root, name), &item.bytes, 0, 0});
        }
    } else {
        // Every entry's range lies inside the pack (the listing checks it).
        for (const PackListEntry& entry : RequirePackListing(input, chain.Image()))
            items.push_back({SafeTarget(root, entry.name), nullptr, entry.offset, entry.size});
    }
    std::error_code error;
    fs::create_directories(root, error);
    if (error) throw ToolError("cannot make the folder " + root.string() + ": " + error.message());
    for (const fs::path& folder : folders) fs::create_directories(folder);
    for (const OutputItem& item : items) WriteItem(item, chain.Image());
    std::printf("%s: %zu files written below %s\n", DescribeInput(input, kind).c_str(), items.size(), root.string().c_str());
    return 0;
}

const CommandRegistration kExtract({"extract", "<file> <folder>",
                                    "writes the files of a pack, container, patch executable or HPFS pack",
                                    RunExtract});

}  // namespace
