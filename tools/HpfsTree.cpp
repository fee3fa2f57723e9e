#include "HpfsTree.h"
#include "Command.h"
#include "VectorFile.h"

#include "hpfs/BFHP.h"
#include "hpfs/DirectoryEntry.h"
#include "hpfs/HPFS.h"

#include <memory>
#include <set>

namespace {

struct Directory {
    PoolHandle handle;
    std::string path;  // "" for the root, else ending in '\'
};

std::string Named(const std::string& path) { return path.empty() ? std::string("the root") : path; }

// A size that the pack cannot hold is a damaged head, not an allocation.
void CheckSize(uint32_t size, size_t packSize, const std::string& what) {
    if (size == UINT32_MAX || size > packSize)
        throw ToolError(what + " claims " + std::to_string(size) + " bytes, more than the pack's " +
                        std::to_string(packSize));
}

}  // namespace

std::vector<HpfsItem> ReadHpfsTree(const std::vector<uint8_t>& image, bool withContents) {
    auto* file = new CVectorFile();
    file->data = image;
    auto* pool = new CBFHP();
    if (ErrorCode error = pool->Attach(file)) {
        delete pool;
        delete file;  // a failed attach leaves the file to us
        throw ToolError(std::string("not a sound HPFS pack: ") + ErrorText(error));
    }
    CHPFS service(pool);
    std::vector<HpfsItem> items;
    std::set<PoolHandle> seen{service.RootHandle()};
    // Depth first, each directory's items before its subdirectories', with a
    // stack of its own: a sound tree may be deeper than a call stack.
    std::vector<Directory> pending{{service.RootHandle(), ""}};
    while (!pending.empty()) {
        const Directory directory = pending.back();
        pending.pop_back();
        const uint32_t size = pool->Size(directory.handle);
        CheckSize(size, image.size(), "the directory " + Named(directory.path));
        std::vector<uint8_t> data(size);
        if (size) {
            if (ErrorCode error = pool->Read(directory.handle, data.data(), 0, size))
                throw ToolError("cannot list " + Named(directory.path) + ": " + ErrorText(error));
        }
        std::vector<Directory> below;
        for (uint32_t offset = 0; offset < size;) {
            DirectoryEntry entry;
            if (ErrorCode error = ParseEntry(data.data(), size, offset, &entry))
                throw ToolError("cannot list " + Named(directory.path) + ": " + ErrorText(error));
            offset += entry.StoredSize();
            HpfsItem item;
            item.directory = entry.IsDirectory();
            item.handle = entry.handle;
            item.path = directory.path + std::string(entry.name, entry.nameLength) + (item.directory ? "\\" : "");
            if (!seen.insert(entry.handle).second)
                throw ToolError(item.path + " names handle " + std::to_string(entry.handle) +
                                ", which another entry already names (a directory inside itself?)");
            if (item.directory) {
                below.push_back({entry.handle, item.path});
            } else {
                // Files open by path, as the patcher opens them.
                ErrorCode openError = nullptr;
                std::unique_ptr<CFile> opened(service.Open(item.path.c_str(), FM_READ, &openError));
                if (!opened) throw ToolError("cannot open " + item.path + ": " + ErrorText(openError));
                item.size = opened->GetSize();
                CheckSize(item.size, image.size(), item.path);
                if (withContents && item.size) {
                    item.bytes.resize(item.size);
                    if (ErrorCode readError = ReadExactly(opened.get(), 0, item.bytes.data(), item.size))
                        throw ToolError("cannot read " + item.path + ": " + ErrorText(readError));
                }
            }
            items.push_back(std::move(item));
        }
        pending.insert(pending.end(), below.rbegin(), below.rend());
    }
    return items;
}
