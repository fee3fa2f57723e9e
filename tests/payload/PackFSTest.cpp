#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "MemoryFile.h"
#include "SparseDiskFile.h"
#include "TestData.h"
#include "file/WindowFile.h"
#include "payload/LzssFile.h"
#include "payload/LzssWriter.h"
#include "payload/PackFS.h"
#include "payload/PackWriter.h"
#include "pools/DefaultPools.h"

namespace {

struct Source {
    std::string name;
    std::vector<uint8_t> data;
};

// A patch-like pack: PATCH.INI at the top, the rest under FILES with two subdirectories.
std::vector<Source> PatchFiles() {
    std::vector<Source> files = {
        {"Patch.ini", testdata::Text(700, 1)},
        {"Files\\quor.exe", testdata::Binary(150000, 2)},
        {"Files\\readme.txt", testdata::Text(3000, 3)},
        {"Files/data/a.bin", testdata::Random(5000, 4)},
        {"Files\\data\\b.bin", testdata::Runs(8000, 5)},
        {"Files\\maps\\x.map", testdata::Binary(40000, 6)},
        {"Files\\maps\\y.map", {}},
        {"Files\\zz.dll", testdata::Binary(20000, 7)},
    };
    return files;
}

std::vector<uint8_t> Pack(const std::vector<Source>& files, ErrorCode* error = nullptr) {
    std::vector<PackWriterEntry> entries;
    for (uint32_t k = 0; k < files.size(); ++k)
        entries.push_back({files[k].name.c_str(), files[k].data.data(), uint32_t(files[k].data.size()), 0x52A96000 + k});
    MemoryFile target;
    ErrorCode result = WritePack(entries.data(), uint32_t(entries.size()), &target);
    if (error) *error = result;
    else EXPECT_EQ(nullptr, result);
    return target.data;
}

std::vector<std::pair<std::string, uint32_t>> List(CPackFS& fs, const char* directory, ErrorCode* first = nullptr) {
    std::vector<std::pair<std::string, uint32_t>> items;
    FindRecord record = {};
    ErrorCode error = fs.FindFirst(&record, directory);
    if (first) *first = error;
    while (!error) {
        items.emplace_back(record.name, record.attributes);
        error = fs.FindNext(&record);
    }
    EXPECT_EQ(ERR_NOTFOUND, error);
    EXPECT_EQ(nullptr, fs.FindClose(&record));
    EXPECT_EQ(nullptr, record.state);
    return items;
}

std::vector<uint8_t> ReadEntry(CPackFS& fs, const char* name) {
    ErrorCode error = ERR_UNKNOWN;
    CFile* file = fs.Open(name, FM_READ, &error);
    EXPECT_EQ(nullptr, error) << name;
    if (!file) return {};
    std::vector<uint8_t> bytes(file->GetSize());
    uint32_t got = 0;
    if (!bytes.empty()) {
        EXPECT_EQ(nullptr, file->Read(bytes.data(), uint32_t(bytes.size()), &got));
    }
    delete file;
    return bytes;
}

typedef std::vector<std::pair<std::string, uint32_t>> Items;

TEST(PackWriter, WritesTheExactLayout) {
    auto pack = Pack({{"b", {1, 2, 3}}, {"A\\x", {9}}});
    ASSERT_GE(pack.size(), 40u);
    EXPECT_EQ(0, std::memcmp(pack.data(), "QVXSYS PackFile\n\x1A", 18));
    EXPECT_EQ(0, pack[17]);
    EXPECT_EQ(std::vector<uint8_t>(14, 0), std::vector<uint8_t>(pack.begin() + 18, pack.begin() + 32));
    EXPECT_EQ(2, pack[32]);
    // A\X (3 + 10 bytes), then B (1 + 10 bytes): directory 24 bytes, dates 8, data at 72.
    EXPECT_EQ(24, pack[36]);
    const uint8_t first[] = {3, 0, 'A', '\\', 'X', 72, 0, 0, 0, 1, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(pack.data() + 40, first, sizeof first));
    const uint8_t second[] = {1, 0, 'B', 73, 0, 0, 0, 3, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(pack.data() + 53, second, sizeof second));
    EXPECT_EQ(0x01, pack[64 + 0]);  // the date of A\X: its source entry's, 0x52A96001
    EXPECT_EQ(0x52, pack[67]);
    EXPECT_EQ(0x00, pack[68]);
    EXPECT_EQ(std::vector<uint8_t>({9, 1, 2, 3}), std::vector<uint8_t>(pack.begin() + 72, pack.end()));
}

TEST(PackWriter, RefusesBadNames) {
    ErrorCode error;
    Pack({{"a", {}}, {"A", {}}}, &error);
    EXPECT_EQ(ERR_ALREADYEXISTS, error);
    Pack({{"dir", {}}, {"DIR\\file", {}}}, &error);
    EXPECT_EQ(ERR_ALREADYEXISTS, error);
    Pack({{"DIR!", {}}, {"DIR", {}}, {"DIR\\X", {}}}, &error);
    EXPECT_EQ(ERR_ALREADYEXISTS, error);
    Pack({{std::string(256, 'N'), {}}}, &error);
    EXPECT_EQ(ERR_OUTOFRANGE, error);
    for (const char* bad : {"", "\\A", "A\\", "A\\\\B", "/A"}) {
        Pack({{bad, {}}}, &error);
        EXPECT_EQ(ERR_BADPARAMS, error) << bad;
    }
    Pack({}, &error);
    EXPECT_EQ(ERR_BADPARAMS, error);
    Pack({{std::string(255, 'N'), {}}}, &error);
    EXPECT_EQ(nullptr, error);
}

TEST(PackFS, ListsTheTopLevelThenEachDirectoryInNameOrder) {
    CPackFS fs;
    ASSERT_EQ(nullptr, fs.Attach(new MemoryFile(Pack(PatchFiles()))));
    EXPECT_EQ(Items({{"FILES", 0x11}, {"PATCH.INI", 0x01}}), List(fs, ""));
    const Items files = {{"DATA", 0x11}, {"MAPS", 0x11}, {"QUOR.EXE", 0x01}, {"README.TXT", 0x01}, {"ZZ.DLL", 0x01}};
    EXPECT_EQ(files, List(fs, "FILES"));
    EXPECT_EQ(files, List(fs, "files\\"));
    EXPECT_EQ(Items({{"X.MAP", 0x01}, {"Y.MAP", 0x01}}), List(fs, "Files\\Maps"));
    ErrorCode first;
    EXPECT_TRUE(List(fs, "NOWHERE", &first).empty());
    EXPECT_EQ(ERR_NOTFOUND, first);
    EXPECT_TRUE(List(fs, "FIL", &first).empty());  // completed to FIL\, which is no directory
    EXPECT_EQ(ERR_NOTFOUND, first);
    EXPECT_TRUE(List(fs, std::string(300, 'F').c_str(), &first).empty());
    EXPECT_EQ(ERR_NOTFOUND, first);
}

TEST(PackFS, OpensCaseInsensitivelyAndReadsEveryEntry) {
    auto sources = PatchFiles();
    CPackFS fs;
    ASSERT_EQ(nullptr, fs.Attach(new MemoryFile(Pack(sources))));
    EXPECT_EQ(sources[0].data, ReadEntry(fs, "patch.INI"));
    EXPECT_EQ(sources[3].data, ReadEntry(fs, "FILES\\DATA\\A.BIN"));
    EXPECT_EQ(sources[5].data, ReadEntry(fs, "files\\maps\\x.map"));
    ErrorCode error = nullptr;
    EXPECT_EQ(nullptr, fs.Open("FILES\\DATA", FM_READ, &error));
    EXPECT_EQ(ERR_FILENOTFOUND, error);
    EXPECT_EQ(nullptr, fs.Open("PATCH.INI", FM_READ | FM_WRITE, &error));
    EXPECT_EQ(ERR_NUMERIC_8001, error);
    EXPECT_EQ(nullptr, fs.Open(std::string(256, 'P').c_str(), FM_READ, &error));
    EXPECT_EQ(ERR_FILENOTFOUND, error);
    EXPECT_NE(0u, fs.GetFileOffset("Patch.ini", &error));
    EXPECT_EQ(nullptr, error);
    EXPECT_EQ(0u, fs.GetFileOffset("missing", &error));
    EXPECT_EQ(ERR_FILENOTFOUND, error);
}

TEST(PackFS, ExistsIsTrueForLeadingPartsOfStoredNames) {
    CPackFS fs;
    ASSERT_EQ(nullptr, fs.Attach(new MemoryFile(Pack(PatchFiles()))));
    EXPECT_TRUE(fs.Exists("patch.ini"));
    EXPECT_TRUE(fs.Exists("PAT"));
    EXPECT_TRUE(fs.Exists(""));
    EXPECT_FALSE(fs.Exists("FILES\\"));
    EXPECT_FALSE(fs.Exists("PATCH.INI2"));
    EXPECT_FALSE(fs.Exists(std::string(256, 'P').c_str()));
}

TEST(PackFS, EntryFilesReadInterleavedAndFollowTheirOwnRules) {
    auto sources = PatchFiles();
    CPackFS fs;
    ASSERT_EQ(nullptr, fs.Attach(new MemoryFile(Pack(sources))));
    CFile* a = fs.Open("FILES\\QUOR.EXE", FM_READ, nullptr);
    CFile* b = fs.Open("FILES\\README.TXT", FM_READ, nullptr);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(CFile::className, a->GetClassName());
    std::vector<uint8_t> gotA, gotB;
    uint8_t chunk[700];
    uint32_t n = 0;
    while (!a->Read(chunk, sizeof chunk, &n)) {
        gotA.insert(gotA.end(), chunk, chunk + n);
        if (!b->Read(chunk, 333, &n)) gotB.insert(gotB.end(), chunk, chunk + n);
    }
    EXPECT_EQ(sources[1].data, gotA);
    EXPECT_EQ(sources[2].data, gotB);
    EXPECT_EQ(ERR_EOF, a->Read(chunk, 1, &n));  // at the end, even with a count
    EXPECT_EQ(0u, n);
    EXPECT_EQ(ERR_NOTIMPLEMENTED, a->Write(chunk, 1, nullptr));
    EXPECT_EQ(ERR_NOTIMPLEMENTED, a->Truncate());
    EXPECT_EQ(ERR_UNKNOWN, a->Seek(-1, ORIGIN_BEGIN));
    EXPECT_EQ(nullptr, a->Seek(-10, ORIGIN_END));
    EXPECT_EQ(150000u - 10, a->Tell());
    EXPECT_EQ(ERR_EOF, a->Read(chunk, 20, nullptr));
    delete a;
    delete b;
    CFile* empty = fs.Open("files\\maps\\y.map", FM_READ, nullptr);
    ASSERT_TRUE(empty);
    EXPECT_EQ(ERR_EOF, empty->Read(chunk, 1, &n));
    delete empty;
}

TEST(PackFS, ThroughTheWholePayloadChain) {
    // Program bytes, then at 8192 a container holding the pack.
    auto sources = PatchFiles();
    auto pack = Pack(sources);
    MemoryFile program(testdata::Binary(8192, 9));
    {
        CWindowFile at(&program, 8192, 0, false);
        ASSERT_EQ(nullptr, CompressLzssImage(pack.data(), uint32_t(pack.size()), &at, kLzssPatchBlockSize,
                                             kLzssPatchBitLengths, nullptr));
    }
    auto* lzss = new CLzssFile(new CWindowFile(&program, 8192, CWindowFile::kWindowToEnd, false), true);
    ASSERT_TRUE(lzss->isOpen);
    CPackFS fs;
    ASSERT_EQ(nullptr, fs.Attach(lzss));
    for (auto source : sources) {
        for (char& c : source.name) c = c == '/' ? '\\' : c;
        EXPECT_EQ(source.data, ReadEntry(fs, source.name.c_str())) << source.name;
    }
    EXPECT_EQ(Items({{"FILES", 0x11}, {"PATCH.INI", 0x01}}), List(fs, ""));
}

TEST(PackFS, MalformedPacksAreRefused) {
    const auto good = Pack(PatchFiles());
    auto attach = [](std::vector<uint8_t> bytes) {
        CPackFS fs;
        return fs.Attach(new MemoryFile(std::move(bytes)));
    };
    EXPECT_EQ(nullptr, attach(good));
    auto magic = good;
    magic[17] = 1;  // the zero after 0x1A
    EXPECT_EQ(ERR_UNKNOWN, attach(magic));
    magic = good;
    magic[3] = 's';
    EXPECT_EQ(ERR_UNKNOWN, attach(magic));
    auto zero = good;
    std::memset(zero.data() + 36, 0, 4);
    EXPECT_EQ(ERR_ALLOCFAIL, attach(zero));
    auto huge = good;
    std::memset(huge.data() + 36, 0xFF, 4);
    EXPECT_EQ(ERR_INVALIDFORMAT, attach(huge));
    EXPECT_EQ(ERR_EOF, attach(std::vector<uint8_t>(good.begin(), good.begin() + 30)));

    // A directory whose entry runs past its size: the entries before stay, the rest are absent.
    auto cut = good;
    cut[36] = uint8_t(cut[36] - 3);
    CPackFS fs;
    ASSERT_EQ(nullptr, fs.Attach(new MemoryFile(cut)));
    EXPECT_EQ(Items({{"FILES", 0x11}}), List(fs, ""));
    EXPECT_EQ(nullptr, fs.Open("PATCH.INI", FM_READ, nullptr));

    // An entry whose data runs past the pack reads "EOF".
    auto shortData = good;
    shortData.resize(shortData.size() - 1);
    CPackFS trimmed;
    ASSERT_EQ(nullptr, trimmed.Attach(new MemoryFile(shortData)));
    CFile* last = trimmed.Open("PATCH.INI", FM_READ, nullptr);
    ASSERT_TRUE(last);
    std::vector<uint8_t> bytes(last->GetSize());
    EXPECT_EQ(ERR_EOF, last->Read(bytes.data(), uint32_t(bytes.size()), nullptr));
    delete last;
}

TEST(PackFS, BeforeAttachEverythingIsAbsent) {
    CPackFS fs;
    ErrorCode error = nullptr;
    EXPECT_EQ(nullptr, fs.Open("A", FM_READ, &error));
    EXPECT_EQ(ERR_FILENOTFOUND, error);
    EXPECT_FALSE(fs.Exists("A"));
    FindRecord record = {};
    EXPECT_EQ(ERR_NOTFOUND, fs.FindFirst(&record, ""));
    EXPECT_EQ(nullptr, fs.FindClose(&record));
    EXPECT_EQ(ERR_ALLOCFAIL, fs.FindNext(&record));
    EXPECT_EQ(ERR_NOTIMPLEMENTED, fs.Delete("A"));
    EXPECT_EQ(&fs, fs.IsKindOf(CPackFS::className));
    EXPECT_EQ(&fs, fs.IsKindOf(CFileService::className));
}

TEST(PackFS, NamesOf255BytesAreListedAndOpened) {
    std::string dir(100, 'D'), leaf(154, 'L');  // 100 + 1 + 154 = 255
    auto pack = Pack({{dir + "\\" + leaf, {42}}});
    CPackFS fs;
    ASSERT_EQ(nullptr, fs.Attach(new MemoryFile(pack)));
    EXPECT_EQ(Items({{dir, 0x11}}), List(fs, ""));
    EXPECT_EQ(Items({{leaf, 0x01}}), List(fs, dir.c_str()));
    EXPECT_EQ(std::vector<uint8_t>({42}), ReadEntry(fs, (dir + "\\" + leaf).c_str()));
}


// Entries past 2 GiB of a pack of 3.25 GiB, in a sparse disk file: the pack's
// head is planned as the tool plans it and written alone.
class PackFSLarge : public SparseDir {};

TEST_F(PackFSLarge, EntriesAndPositionsPast2GiB) {
    const std::vector<PackWriterEntry> entries = {
        {"A.BIN", nullptr, 0x90000000u, 0}, {"B.BIN", nullptr, 0x40000000u, 0}, {"C.BIN", nullptr, 100, 0}};
    uint8_t* head = nullptr;
    uint32_t headSize = 0, total = 0, offsets[3] = {};
    ASSERT_EQ(PlanCheckedPack(entries.data(), 3, &head, &headSize, offsets, &total), nullptr);
    const auto path = MakeSparse("pack", total);
    Poke(path, 0, head, headSize);
    g_pDefaultPtrPool->Free(head);
    Poke(path, uint64_t(offsets[0]) + 0x8FFFFFFCu, "endA", 4);
    Poke(path, uint64_t(offsets[1]) + 0x3FFFFFFCu, "endB", 4);
    Poke(path, offsets[2], "C...", 4);
    ASSERT_GT(offsets[2], 0xC0000000u);

    CPackFS fs;
    ASSERT_EQ(fs.Attach(OpenDisk(path, false).release()), nullptr);
    char bytes[5] = {};
    std::unique_ptr<CFile> a(fs.Open("a.bin", FM_READ, nullptr));
    ASSERT_TRUE(a);
    EXPECT_EQ(a->GetSize(), 0x90000000u);
    EXPECT_EQ(a->ReadAt(bytes, 0x8FFFFFFCu, 4, nullptr), nullptr);
    EXPECT_STREQ(bytes, "endA");
    EXPECT_EQ(a->Read(bytes, 1, nullptr), ERR_EOF);
    std::unique_ptr<CFile> b(fs.Open("B.BIN", FM_READ, nullptr));
    ASSERT_TRUE(b);
    ASSERT_EQ(b->Seek(-4, ORIGIN_END), nullptr);
    EXPECT_EQ(b->Tell(), 0x3FFFFFFCu);
    EXPECT_EQ(b->Read(bytes, 4, nullptr), nullptr);
    EXPECT_STREQ(bytes, "endB");
    EXPECT_EQ(ReadEntry(fs, "C.BIN")[0], 'C');
    EXPECT_EQ(fs.GetFileOffset("C.BIN", nullptr), offsets[2]);
}

}  // namespace
