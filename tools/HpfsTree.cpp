#include "HpfsTree.h"
#include "Command.h"
#include "VectorFile.h"

#include "hpfs/BFHP.h"
#include "hpfs/HPFS.h"

#include <memory>

namespace {

constexpr int kMaxDepth = 64;

void Walk(CHPFS& service, const std::string& directory, int depth, bool withContents, std::vector<HpfsItem>* items) {
    if (depth > kMaxDepth) throw ToolError("the directory tree is deeper than " + std::to_string(kMaxDepth) +
                                           " levels at " + directory + " (a directory inside itself?)");
    const size_t first = items->size();
    FindRecord record{};
    ErrorCode error = service.FindFirst(&record, directory.c_str());
    while (!error) {
        HpfsItem item;
        item.directory = (record.attributes & FA_DIRECTORY) != 0;
        item.path = directory + record.name + (item.directory ? "\\" : "");
        items->push_back(item);
        error = service.FindNext(&record);
    }
    service.FindClose(&record);
    if (error != ERR_NOMOREFILES)
        throw ToolError("cannot list " + (directory.empty() ? std::string("the root") : directory) + ": " +
                        ErrorText(error));
    // Files first get their sizes and bytes, then each subdirectory is walked.
    std::vector<std::string> below;
    for (size_t i = first; i < items->size(); ++i) {
        HpfsItem& item = (*items)[i];
        if (item.directory) {
            below.push_back(item.path);
            continue;
        }
        ErrorCode openError = nullptr;
        std::unique_ptr<CFile> file(service.Open(item.path.c_str(), FM_READ, &openError));
        if (!file) throw ToolError("cannot open " + item.path + ": " + ErrorText(openError));
        item.size = file->GetSize();
        if (withContents) {
            item.bytes.resize(item.size);
            uint32_t got = 0;
            ErrorCode readError = file->Read(item.bytes.data(), item.size, &got);
            if (readError || got != item.size)
                throw ToolError("cannot read " + item.path + ": " + ErrorText(readError));
        }
    }
    for (const std::string& path : below) Walk(service, path, depth + 1, withContents, items);
}

}  // namespace

std::vector<HpfsItem> ReadHpfsTree(const std::vector<uint8_t>& image, bool withContents) {
    auto* file = new CVectorFile();
    file->bytes = image;
    auto* pool = new CBFHP();
    if (ErrorCode error = pool->Attach(file)) {
        delete pool;
        delete file;  // a failed attach leaves the file to us
        throw ToolError(std::string("not a sound HPFS pack: ") + ErrorText(error));
    }
    CHPFS service(pool);
    std::vector<HpfsItem> items;
    Walk(service, "", 0, withContents, &items);
    return items;
}
