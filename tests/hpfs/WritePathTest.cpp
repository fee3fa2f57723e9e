// Write paths of CBFHP and CHPFS that once lost or damaged data: blocks
// never written, a directory whose copy and size disagree, two open files on
// one handle, the size that means "none", and removals that fail half-way.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../platform/DiskTestDir.h"
#include "BlockFileTestSupport.h"
#include "hpfs/HPFS.h"
#include "hpfs/HPFSFile.h"
#include "platform/DiskFS.h"

namespace {

constexpr uint16_t kShared = FM_READ | FM_WRITE | FM_SHARE_READ | FM_SHARE_WRITE;

std::vector<std::string> List(CHPFS& fs, const char* path) {
    std::vector<std::string> names;
    FindRecord record = {};
    for (ErrorCode error = fs.FindFirst(&record, path); !error; error = fs.FindNext(&record))
        names.push_back(record.name);
    fs.FindClose(&record);
    return names;
}

// Every handle of the tree below directory, read through the service.
void CollectHandles(CHPFS& fs, CBFHP& pool, const std::string& directory, PoolHandle handle,
                    std::vector<uint32_t>* handles) {
    handles->push_back(uint32_t(handle));
    std::vector<uint8_t> data(pool.Size(handle));
    if (!data.empty()) {
        ASSERT_EQ(pool.Read(handle, data.data(), 0, kWholeHandle), nullptr);
    }
    for (size_t at = 0; at + 8 <= data.size(); at += 8 + LoadU16(&data[at + 6])) {
        std::string name(data.begin() + long(at) + 8, data.begin() + long(at) + 8 + LoadU16(&data[at + 6]));
        if (LoadU16(&data[at + 4]) & kEntryDirectory)
            CollectHandles(fs, pool, directory + name + "\\", LoadU32(&data[at]), handles);
        else
            handles->push_back(LoadU32(&data[at]));
    }
}

std::string Resize(CHPFS& fs, const char* path, uint32_t size) {
    CFile* file = fs.Open(path, kShared, nullptr);
    if (!file) return "no file";
    file->Seek(int32_t(size), ORIGIN_BEGIN);
    ErrorCode error = file->Truncate();
    uint32_t now = file->GetSize();
    delete file;
    if (error) return ErrorText(error);
    return now == size ? "" : "size " + std::to_string(now);
}

// A block freed while the free list is empty starts the list. A block that
// was allocated but never written (a handle grown by Truncate and shrunk
// again) must be written then, or the next list operation reads past the
// end of the file.
class NeverWrittenBlocks : public DiskTestDir {};

TEST_F(NeverWrittenBlocks, AFreedBlockThatWasNeverWrittenStartsTheFreeList) {
    CDiskFS disk;
    const std::string path = Path("local.wdt");
    {
        CFile* file = disk.Open(path.c_str(), FM_READ | FM_WRITE | FM_CREATE | FM_TRUNCATE, nullptr);
        ASSERT_NE(file, nullptr);
        ASSERT_EQ(WriteEmptyBlockFile(file, 512, 8, 0xFFFFFFFF), nullptr);
        auto* pool = new CBFHP;
        ASSERT_EQ(pool->Attach(file), nullptr);
        CHPFS fs(pool);
        delete fs.Open("f", kShared | FM_CREATE, nullptr);
        delete fs.Open("g", kShared | FM_CREATE, nullptr);
        EXPECT_EQ(Resize(fs, "f", 5120), "");
        EXPECT_EQ(Resize(fs, "g", 512), "");
        EXPECT_EQ(Resize(fs, "f", 4608), "");  // its last block starts the free list
        EXPECT_EQ(Resize(fs, "f", 4096), "");  // adds to that list block
        EXPECT_EQ(fs.Delete("g"), nullptr);
        EXPECT_EQ(List(fs, ""), std::vector<std::string>{"f"});
    }
    CFile* file = disk.Open(path.c_str(), FM_READ | FM_WRITE, nullptr);
    ASSERT_NE(file, nullptr);
    auto* pool = new CBFHP;
    ErrorCode attached = pool->Attach(file);
    if (attached) delete file;
    ASSERT_EQ(attached, nullptr);
    CHPFS fs(pool);
    EXPECT_EQ(List(fs, ""), std::vector<std::string>{"f"});
    CFile* f = fs.Open("f", kShared, nullptr);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->GetSize(), 4096u);
    delete f;
    std::vector<uint32_t> handles;
    CollectHandles(fs, *pool, "", fs.RootHandle(), &handles);
    ASSERT_EQ(pool->Flush(), nullptr);
    const std::string stored = ReadHostFile("local.wdt");
    ExpectBlockAccounting(std::vector<uint8_t>(stored.begin(), stored.end()), handles);
}

}  // namespace
