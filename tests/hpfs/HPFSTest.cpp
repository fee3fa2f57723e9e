// CHPFS over a CBFHP: paths, opening and sharing, listings, the tree
// operations, CHPFile, and the directory cache.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "BlockFileTestSupport.h"
#include "hpfs/HPFSFile.h"
#include "hpfs/WritableHPFS.h"

namespace {

constexpr uint16_t kCreate = FM_READ | FM_WRITE | FM_CREATE | FM_TRUNCATE;

class HPFS : public ::testing::Test {
protected:
    void SetUp() override {
        auto owned = NewPool(&file);
        pool = owned.release();
        fs = std::make_unique<CWritableHPFS>(pool);
    }

    void WriteFile(const char* path, const std::string& text) {
        ErrorCode error = ERR_UNKNOWN;
        CFile* f = fs->Open(path, kCreate, &error);
        ASSERT_NE(f, nullptr) << path << " " << ErrorText(error);
        ASSERT_EQ(f->Write(text.data(), uint32_t(text.size()), nullptr), nullptr);
        delete f;
    }

    std::string ReadFile(const char* path) {
        ErrorCode error = nullptr;
        CFile* f = fs->Open(path, kReadShared, &error);
        if (!f) return std::string("<") + ErrorText(error) + ">";
        std::string text(f->GetSize(), '\0');
        uint32_t got = 0;
        EXPECT_EQ(f->Read(&text[0], uint32_t(text.size()), &got), nullptr);
        delete f;
        return text;
    }

    std::vector<std::string> List(const char* path) {
        std::vector<std::string> names;
        FindRecord record = {};
        ErrorCode error = fs->FindFirst(&record, path);
        while (!error) {
            names.push_back(std::string(record.name) + (record.attributes & FA_DIRECTORY ? "/" : ""));
            error = fs->FindNext(&record);
        }
        EXPECT_EQ(error, ERR_NOMOREFILES);
        EXPECT_EQ(fs->FindClose(&record), nullptr);
        return names;
    }

    MemoryFile* file = nullptr;
    CBFHP* pool = nullptr;
    std::unique_ptr<CHPFS> fs;
};

TEST_F(HPFS, ClassNames) {
    EXPECT_STREQ(fs->GetClassName(), "CWritableHPFS");
    EXPECT_NE(fs->IsKindOf(CHPFS::className), nullptr);
    EXPECT_NE(fs->IsKindOf(CFileService::className), nullptr);
    EXPECT_STREQ(pool->GetClassName(), "CWritableBFHP");
    EXPECT_NE(pool->IsKindOf(CBFHP::className), nullptr);
    WriteFile("a", "x");
    CFile* f = fs->Open("a", FM_READ, nullptr);
    EXPECT_STREQ(f->GetClassName(), "CHPFSFile");
    EXPECT_NE(f->IsKindOf(CHPFile::className), nullptr);
    EXPECT_NE(f->IsKindOf(CFile::className), nullptr);
    EXPECT_EQ(f->IsKindOf(CHPFS::className), nullptr);
    delete f;
}

// The patcher's reader: the same pack read as written, and every change
// refused with "\"Not implemented yet\"", the pack's bytes untouched.
TEST_F(HPFS, TheReaderReadsAndRefusesEveryChange) {
    ASSERT_EQ(fs->MakeDirectory("", "d"), nullptr);
    WriteFile("d\\a", "text");
    ASSERT_EQ(pool->Flush(), nullptr);
    const std::vector<uint8_t> bytes = file->data;
    auto* reader = new CBFHP;
    auto* packFile = new MemoryFile(bytes);
    ASSERT_EQ(reader->Attach(packFile), nullptr);
    CHPFS service(reader);
    EXPECT_STREQ(service.GetClassName(), "CHPFS");
    CFile* a = service.Open("D\\A", FM_READ | FM_SHARE_READ | FM_SHARE_WRITE, nullptr);
    ASSERT_NE(a, nullptr);
    char text[8] = {};
    uint32_t got = 0;
    EXPECT_EQ(a->Read(text, sizeof text, &got), nullptr);
    EXPECT_EQ(std::string(text, got), "text");
    EXPECT_EQ(a->Write("x", 1, nullptr), ERR_NOTIMPLEMENTED);
    delete a;
    ErrorCode error = nullptr;
    EXPECT_EQ(service.Open("d\\new", kCreate, &error), nullptr);
    EXPECT_EQ(error, ERR_NOTIMPLEMENTED);
    EXPECT_EQ(service.Open("d\\a", kCreate, &error), nullptr);
    EXPECT_EQ(error, ERR_NOTIMPLEMENTED);
    EXPECT_EQ(service.Delete("d\\a"), ERR_NOTIMPLEMENTED);
    EXPECT_EQ(service.Rename("d\\a", "b"), ERR_NOTIMPLEMENTED);
    EXPECT_EQ(service.MakeDirectory("", "e"), ERR_NOTIMPLEMENTED);
    EXPECT_EQ(service.RemoveDirectory("", "d"), ERR_NOTIMPLEMENTED);
    EXPECT_EQ(reader->Alloc(0), 0u);
    EXPECT_EQ(reader->LastError(), ERR_NOTIMPLEMENTED);
    EXPECT_EQ(reader->Flush(), nullptr);
    EXPECT_EQ(packFile->writeCalls, 0);
    EXPECT_EQ(packFile->data, bytes);
}

TEST_F(HPFS, PathsIgnoreCaseAndTakeEitherSeparator) {
    ASSERT_EQ(fs->MakeDirectory("", "LOCAL"), nullptr);
    WriteFile("LOCAL\\strings3.ini", "three");
    EXPECT_EQ(ReadFile("local\\strings3.ini"), "three");
    EXPECT_EQ(ReadFile("LOCAL\\STRINGS3.INI"), "three");
    EXPECT_EQ(ReadFile("/LOCAL/strings3.ini"), "three");
    EXPECT_EQ(ReadFile("\\local/Strings3.ini"), "three");
    EXPECT_EQ(fs->Exists(""), 1);
    EXPECT_EQ(fs->Exists("\\"), 1);
    EXPECT_EQ(fs->Exists("local\\"), 1);
    EXPECT_EQ(fs->Exists("local\\\\strings3.ini"), 0);  // an empty component names nothing
    EXPECT_EQ(fs->Exists("LOCAL\\strings3.ini\\"), 0);  // a file is no directory
    ErrorCode error = nullptr;
    EXPECT_EQ(fs->Open("", FM_READ, &error), nullptr);
    EXPECT_EQ(error, ERR_UNKNOWN);
    EXPECT_EQ(fs->Open("\\", FM_READ, &error), nullptr);
    EXPECT_EQ(error, ERR_UNKNOWN);
    EXPECT_EQ(fs->Open("missing", FM_READ, &error), nullptr);
    EXPECT_EQ(error, ERR_NOTFOUND);
    EXPECT_EQ(fs->Open("LOCAL\\strings3.ini\\x", FM_READ, &error), nullptr);
    EXPECT_EQ(error, ERR_UNKNOWN);
}

TEST_F(HPFS, CreateAppendsAndTruncateEmpties) {
    WriteFile("first", "1");
    WriteFile("second", "22");
    EXPECT_EQ(List(""), (std::vector<std::string>{"first", "second"}));
    WriteFile("first", "");
    EXPECT_EQ(ReadFile("first"), "");
    CFile* f = fs->Open("second", FM_READ | FM_TRUNCATE, nullptr);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->GetSize(), 0u);
    delete f;
    EXPECT_EQ(List(""), (std::vector<std::string>{"first", "second"}));
}

TEST_F(HPFS, SharingRules) {
    WriteFile("f", "data");
    CFile* a = fs->Open("f", FM_READ | FM_SHARE_READ, nullptr);
    CFile* b = fs->Open("f", FM_READ | FM_SHARE_READ, nullptr);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    ErrorCode error = nullptr;
    EXPECT_EQ(fs->Open("f", FM_WRITE | FM_SHARE_READ, &error), nullptr);
    EXPECT_EQ(error, ERR_UNKNOWN);
    EXPECT_EQ(fs->Open("f", FM_READ, &error), nullptr);  // would not share with the readers
    delete a;
    delete b;
    CFile* writer = fs->Open("f", FM_WRITE | FM_SHARE_READ, nullptr);
    ASSERT_NE(writer, nullptr);
    EXPECT_EQ(fs->Open("f", FM_READ | FM_SHARE_READ, nullptr), nullptr);  // lacks FM_SHARE_WRITE
    CFile* reader = fs->Open("f", kReadShared, nullptr);
    EXPECT_NE(reader, nullptr);
    EXPECT_EQ(fs->Delete("f"), ERR_SHARING);  // an open file stays
    delete reader;
    delete writer;
    EXPECT_EQ(fs->Delete("f"), nullptr);
    EXPECT_EQ(fs->Exists("f"), 0);
}

TEST_F(HPFS, FileReadWriteSeekTruncate) {
    ErrorCode error;
    CFile* f = fs->Open("f", kCreate, &error);
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(f->Write("hello world", 11, nullptr), nullptr);
    EXPECT_EQ(f->GetSize(), 11u);
    char buffer[32] = {};
    uint32_t got = 99;
    EXPECT_EQ(f->Read(buffer, 5, &got), nullptr);
    EXPECT_EQ(got, 0u);  // at the end
    EXPECT_EQ(f->Seek(0, ORIGIN_END), nullptr);
    EXPECT_EQ(f->Tell(), f->GetSize());
    EXPECT_EQ(f->Seek(6, ORIGIN_BEGIN), nullptr);
    EXPECT_EQ(f->Read(buffer, 20, &got), nullptr);
    EXPECT_EQ(got, 5u);
    EXPECT_EQ(std::string(buffer, 5), "world");
    f->Seek(6, ORIGIN_BEGIN);
    EXPECT_EQ(f->Read(buffer, 20, nullptr), ERR_UNKNOWN);
    f->Seek(2000, ORIGIN_BEGIN);
    ASSERT_EQ(f->Write("!", 1, nullptr), nullptr);  // grows over a gap
    EXPECT_EQ(f->GetSize(), 2001u);
    f->Seek(5, ORIGIN_BEGIN);
    EXPECT_EQ(f->Truncate(), nullptr);
    EXPECT_EQ(f->GetSize(), 5u);
    EXPECT_EQ(f->Flush(), ERR_NOTIMPLEMENTED);
    delete f;
    EXPECT_EQ(ReadFile("f"), "hello");
}

TEST_F(HPFS, ListingsShowStoredOrderAndKinds) {
    ASSERT_EQ(fs->MakeDirectory("", "d"), nullptr);
    FindRecord record = {};
    EXPECT_EQ(fs->FindFirst(&record, "d"), ERR_NOMOREFILES);
    fs->FindClose(&record);
    WriteFile("d\\a", "1");
    ASSERT_EQ(fs->MakeDirectory("d", "b"), nullptr);
    EXPECT_EQ(List("d"), (std::vector<std::string>{"a", "b/"}));
    EXPECT_EQ(List("d\\"), (std::vector<std::string>{"a", "b/"}));
    EXPECT_EQ(fs->FindFirst(&record, "d\\a"), ERR_UNKNOWN);  // not a directory
    EXPECT_EQ(fs->FindFirst(&record, "nothing"), ERR_NOTFOUND);
}

TEST_F(HPFS, MakeDirectoryRefusesDuplicatesAndBadNames) {
    ASSERT_EQ(fs->MakeDirectory("", "d"), nullptr);
    EXPECT_EQ(fs->MakeDirectory("", "D"), ERR_UNKNOWN);
    EXPECT_EQ(fs->MakeDirectory("", ""), ERR_UNKNOWN);
    EXPECT_EQ(fs->MakeDirectory("", "a\\b"), ERR_BADPARAMS);
    const std::string longest(252, 'x'), tooLong(253, 'x');
    EXPECT_EQ(fs->MakeDirectory("d", longest.c_str()), nullptr);
    EXPECT_EQ(fs->MakeDirectory("d", tooLong.c_str()), ERR_BADPARAMS);
    ErrorCode error;
    EXPECT_EQ(fs->Open(("d\\" + tooLong).c_str(), kCreate, &error), nullptr);
    EXPECT_EQ(error, ERR_BADPARAMS);
    EXPECT_EQ(fs->Exists(("d\\" + longest).c_str()), 1);
    EXPECT_EQ(List("d"), (std::vector<std::string>{longest + "/"}));
    // Nothing was left behind by the refusals.
    ASSERT_EQ(pool->Flush(), nullptr);
    uint32_t size = pool->Size(fs->RootHandle());
    EXPECT_EQ(size, 8u + 1);
}

TEST_F(HPFS, RenameMovesAndAFailedRenameLeavesTheEntry) {
    WriteFile("x", "ex");
    WriteFile("z", "zed");
    EXPECT_EQ(fs->Rename("x", "d\\y"), ERR_UNKNOWN);
    EXPECT_EQ(ReadFile("x"), "ex");
    EXPECT_EQ(List(""), (std::vector<std::string>{"x", "z"}));
    EXPECT_EQ(fs->Rename("x", "z"), ERR_UNKNOWN);  // the name is taken
    EXPECT_EQ(List(""), (std::vector<std::string>{"x", "z"}));
    ASSERT_EQ(fs->MakeDirectory("", "d"), nullptr);
    EXPECT_EQ(fs->Rename("x", "d\\y"), nullptr);
    EXPECT_EQ(ReadFile("d\\y"), "ex");
    EXPECT_EQ(List(""), (std::vector<std::string>{"z", "d/"}));
    EXPECT_EQ(fs->Rename("", "r"), ERR_UNKNOWN);  // the root stays
    EXPECT_EQ(fs->Rename("Z", "z"), nullptr);     // to itself: moves to the end
    EXPECT_EQ(List(""), (std::vector<std::string>{"d/", "z"}));
}

TEST_F(HPFS, RenameIntoItsOwnSubtreeIsRefused) {
    ASSERT_EQ(fs->MakeDirectory("", "a"), nullptr);
    ASSERT_EQ(fs->MakeDirectory("a", "b"), nullptr);
    WriteFile("a\\b\\f", "deep");
    EXPECT_EQ(fs->Rename("a", "a\\b\\a"), ERR_UNKNOWN);
    EXPECT_EQ(fs->Rename("A\\", "/a/B/c"), ERR_UNKNOWN);
    EXPECT_EQ(ReadFile("a\\b\\f"), "deep");
    // A trailing separator names the directory itself, in its parent.
    EXPECT_EQ(fs->Rename("a\\b\\", "b2"), nullptr);
    EXPECT_EQ(List(""), (std::vector<std::string>{"a/", "b2/"}));
    EXPECT_EQ(List("a"), std::vector<std::string>{});
    EXPECT_EQ(ReadFile("b2\\f"), "deep");
    EXPECT_EQ(fs->Rename("ab", "ab\\x"), ERR_NOTFOUND);
}

TEST_F(HPFS, RemoveDirectoryNeedsAnEmptyEntry) {
    ASSERT_EQ(fs->MakeDirectory("", "d"), nullptr);
    WriteFile("d\\only", "1");
    EXPECT_EQ(fs->RemoveDirectory("", "d"), ERR_UNKNOWN);
    EXPECT_EQ(fs->Delete("d"), ERR_UNKNOWN);  // a directory
    EXPECT_EQ(fs->Delete("d\\only"), nullptr);
    EXPECT_EQ(fs->RemoveDirectory("", "d"), nullptr);
    EXPECT_EQ(fs->Exists("d"), 0);
    EXPECT_EQ(fs->RemoveDirectory("", "d"), ERR_NOTFOUND);
    WriteFile("empty", "");
    EXPECT_EQ(fs->RemoveDirectory("", "empty"), nullptr);
    ASSERT_EQ(pool->Flush(), nullptr);
    ExpectBlockAccounting(file->data, {uint32_t(fs->RootHandle())});
}

TEST_F(HPFS, TheDirectoryCacheSkipsTheWalkAndFollowsChanges) {
    ASSERT_EQ(fs->MakeDirectory("", "LOCAL"), nullptr);
    WriteFile("LOCAL\\strings3.ini", "3");
    WriteFile("LOCAL\\strings.ini", "1");
    EXPECT_EQ(ReadFile("LOCAL\\strings3.ini"), "3");  // caches LOCAL
    file->readCalls = 0;
    EXPECT_EQ(ReadFile("local\\strings.ini"), "1");
    const int cached = file->readCalls;
    fs->EnableDirectoryCache(false);
    EXPECT_EQ(ReadFile("LOCAL\\strings3.ini"), "3");
    file->readCalls = 0;
    EXPECT_EQ(ReadFile("local\\strings.ini"), "1");
    EXPECT_GT(file->readCalls, cached);  // the root and LOCAL are read again
    fs->EnableDirectoryCache(true);

    // Changes to the cached directory, and moves of it, are seen at once.
    EXPECT_EQ(ReadFile("LOCAL\\strings.ini"), "1");
    WriteFile("LOCAL\\new", "n");
    EXPECT_EQ(ReadFile("LOCAL\\new"), "n");
    EXPECT_EQ(fs->Delete("LOCAL\\strings.ini"), nullptr);
    EXPECT_EQ(fs->Exists("LOCAL\\strings.ini"), 0);
    EXPECT_EQ(fs->Rename("LOCAL", "MOVED"), nullptr);
    EXPECT_EQ(fs->Exists("LOCAL\\new"), 0);
    EXPECT_EQ(ReadFile("MOVED\\new"), "n");
    ASSERT_EQ(fs->MakeDirectory("MOVED", "sub"), nullptr);
    EXPECT_EQ(fs->Exists("MOVED\\sub\\"), 1);  // caches sub
    EXPECT_EQ(fs->RemoveDirectory("MOVED", "sub"), nullptr);
    EXPECT_EQ(fs->Exists("MOVED\\sub\\x"), 0);
    EXPECT_EQ(ReadFile("MOVED\\strings3.ini"), "3");
}

TEST_F(HPFS, TheTreePersistsThroughTheBlockFile) {
    std::vector<uint8_t> bytes;
    {
        auto* other = NewKeptPool(&bytes);
        CWritableHPFS service(other);
        ASSERT_EQ(service.MakeDirectory("", "LOCAL"), nullptr);
        CFile* f = service.Open("LOCAL\\strings3.ini", kCreate, nullptr);
        std::string big(70000, 'q');
        ASSERT_EQ(f->Write(big.data(), uint32_t(big.size()), nullptr), nullptr);
        delete f;
    }
    auto* reopened = new CWritableBFHP;
    ASSERT_EQ(reopened->Attach(new MemoryFile(bytes)), nullptr);
    CWritableHPFS service(reopened);
    CFile* f = service.Open("LOCAL\\strings3.ini", kReadShared, nullptr);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->GetSize(), 70000u);
    std::string text(70000, '\0');
    ASSERT_EQ(f->Read(&text[0], 70000, nullptr), nullptr);
    EXPECT_EQ(text, std::string(70000, 'q'));
    delete f;
}

}  // namespace
