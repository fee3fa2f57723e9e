// Fuzz target: a block file of arbitrary bytes under CBFHP and CHPFS.
// Attach, list the whole tree, open and read every file, then a few writes
// and a Flush. Any sanitizer report, leak or hang is a fault, and so is a
// file larger than the pack: sizes the headers claim must be checked against
// the pack's real size before they are believed.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "MemoryFile.h"
#include "hpfs/BlockFileFormat.h"
#include "hpfs/WritableBFHP.h"
#include "hpfs/WritableHPFS.h"

namespace {

constexpr uint32_t kMaxReadPerFile = 1 << 20;
constexpr int kMaxDepth = 8;        // directory cycles in the input must not recurse forever
constexpr int kMaxEntries = 2000;

size_t g_packSize = 0;

void ReadAll(CHPFS& fs, const std::string& path) {
    CFile* file = fs.Open(path.c_str(), FM_READ | FM_SHARE_READ | FM_SHARE_WRITE, nullptr);
    if (!file) return;
    if (file->GetSize() >= g_packSize) std::abort();
    std::vector<uint8_t> buffer(4096);
    uint32_t total = 0, got = 0;
    while (total < kMaxReadPerFile && !file->Read(buffer.data(), uint32_t(buffer.size()), &got) && got) total += got;
    delete file;
}

void Walk(CHPFS& fs, const std::string& directory, int depth, int* budget) {
    if (depth > kMaxDepth) return;
    FindRecord record = {};
    std::vector<std::pair<std::string, bool>> children;
    for (ErrorCode error = fs.FindFirst(&record, directory.c_str()); !error && *budget > 0;
         error = fs.FindNext(&record)) {
        --*budget;
        children.emplace_back(record.name, (record.attributes & FA_DIRECTORY) != 0);
    }
    fs.FindClose(&record);
    for (auto& [name, isDirectory] : children) {
        std::string path = directory.empty() ? name : directory + "\\" + name;
        if (isDirectory)
            Walk(fs, path, depth + 1, budget);
        else
            ReadAll(fs, path);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kBlockFileHeaderSize) return 0;
    g_packSize = size;
    auto* file = new MemoryFile(std::vector<uint8_t>(data, data + size));
    auto* pool = new CWritableBFHP;
    if (pool->Attach(file)) {
        delete pool;
        delete file;
        return 0;
    }
    CWritableHPFS fs(pool);
    int budget = kMaxEntries;
    Walk(fs, "", 0, &budget);

    fs.MakeDirectory("", "fz");
    if (CFile* out = fs.Open("fz\\w", FM_READ | FM_WRITE | FM_CREATE | FM_TRUNCATE, nullptr)) {
        out->Write(data, uint32_t(size < 3000 ? size : 3000), nullptr);
        out->Seek(100, ORIGIN_BEGIN);
        out->Truncate();
        delete out;
    }
    fs.Rename("fz\\w", "fz\\v");
    fs.Rename("fz", "fz\\inner");
    fs.Delete("fz\\v");
    fs.RemoveDirectory("", "fz");
    pool->Flush();
    return 0;
}
