#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "DiskTestDir.h"
#include "file/MountTable.h"
#include "platform/DiskFS.h"

namespace {

class DiskFSTest : public DiskTestDir {
protected:
    // Every name a listing reports, then the code that ended it.
    std::vector<std::string> List(const std::string& directory, ErrorCode* end) {
        std::vector<std::string> names;
        FindRecord record{};
        ErrorCode code = fs.FindFirst(&record, directory.c_str());
        while (!code) {
            names.push_back(record.name);
            code = fs.FindNext(&record);
        }
        *end = code;
        fs.FindClose(&record);
        return names;
    }

    static bool IsZero(const FindRecord& record) {
        return !record.service && !record.cookie && !record.state && !record.attributes && !record.name;
    }

    CDiskFS fs;
};

TEST_F(DiskFSTest, MakeDirectoryTakesOneComponent) {
    std::filesystem::create_directory(Host("x"));
    EXPECT_EQ(fs.MakeDirectory(Path("x").c_str(), "a\\b"), ERR_BADPARAMS);
    EXPECT_EQ(fs.MakeDirectory(Path("x").c_str(), "c:"), ERR_BADPARAMS);
    EXPECT_EQ(fs.MakeDirectory(nullptr, "y"), ERR_BADPARAMS);
    EXPECT_EQ(fs.MakeDirectory(Path("x").c_str(), nullptr), ERR_BADPARAMS);
    EXPECT_TRUE(std::filesystem::is_empty(Host("x")));

    EXPECT_EQ(fs.MakeDirectory((Path("x") + "\\").c_str(), "y"), nullptr);
    EXPECT_TRUE(std::filesystem::is_directory(Host("x/y")));
    EXPECT_EQ(fs.MakeDirectory(Path("x").c_str(), "z"), nullptr);
    EXPECT_TRUE(std::filesystem::is_directory(Host("x/z")));
    EXPECT_EQ(fs.MakeDirectory(Path("x").c_str(), "z"), ERR_ALREADYEXISTS);
    EXPECT_EQ(fs.MakeDirectory(Path("missing").c_str(), "y"), ERR_PATHNOTFOUND);
    // An empty name names the parent itself, which exists.
    EXPECT_EQ(fs.MakeDirectory(Path("x").c_str(), ""), ERR_ALREADYEXISTS);
}

TEST_F(DiskFSTest, JoinedPathsThatDoNotFitAreRefused) {
    std::string parent = Path("x");
    std::string name(255 - parent.size() - 1, 'n');  // exactly 255 characters joined
    EXPECT_NE(fs.MakeDirectory(parent.c_str(), name.c_str()), ERR_BADPARAMS);
    name += 'n';
    EXPECT_EQ(fs.MakeDirectory(parent.c_str(), name.c_str()), ERR_BADPARAMS);
    EXPECT_EQ(fs.RemoveDirectory(parent.c_str(), name.c_str()), ERR_BADPARAMS);
}

TEST_F(DiskFSTest, RemoveDirectory) {
    std::filesystem::create_directories(Host("x/full"));
    WriteHostFile("x/full/f", "1");
    std::filesystem::create_directory(Host("x/empty"));
    EXPECT_EQ(fs.RemoveDirectory(Path("x").c_str(), "a\\b"), ERR_BADPARAMS);
    EXPECT_EQ(fs.RemoveDirectory(Path("x").c_str(), "empty"), nullptr);
    EXPECT_FALSE(std::filesystem::exists(Host("x/empty")));
    EXPECT_EQ(fs.RemoveDirectory(Path("x").c_str(), "full"), ERR_FILE);
    EXPECT_EQ(fs.RemoveDirectory(Path("x").c_str(), "gone"), ERR_FILENOTFOUND);
}

TEST_F(DiskFSTest, ListingSkipsDotEntries) {
    std::filesystem::create_directories(Host("d/b"));
    WriteHostFile("d/a", "1");
    ErrorCode end = nullptr;
    EXPECT_EQ(List(Path("d"), &end), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(end, ERR_NOMOREFILES);
    EXPECT_EQ(List(Path("d") + "\\", &end), (std::vector<std::string>{"a", "b"}));

    FindRecord record{};
    ASSERT_EQ(fs.FindFirst(&record, Path("d").c_str()), nullptr);
    EXPECT_EQ(record.service, &fs);
    EXPECT_EQ(record.attributes & FA_DIRECTORY, 0u);
    ASSERT_EQ(fs.FindNext(&record), nullptr);
    EXPECT_EQ(record.attributes & FA_DIRECTORY, FA_DIRECTORY);
    EXPECT_EQ(fs.FindNext(&record), ERR_NOMOREFILES);
    EXPECT_NE(record.state, nullptr);  // still active after the end
    EXPECT_EQ(fs.FindClose(&record), nullptr);
    EXPECT_TRUE(IsZero(record));
    EXPECT_EQ(fs.FindClose(&record), ERR_BADPARAMS);
    EXPECT_EQ(fs.FindNext(&record), ERR_BADPARAMS);
}

TEST_F(DiskFSTest, EmptyDirectoryFailsAtFindFirstWithTheRecordActive) {
    std::filesystem::create_directory(Host("empty"));
    FindRecord record{};
    EXPECT_EQ(fs.FindFirst(&record, Path("empty").c_str()), ERR_NOMOREFILES);
    EXPECT_EQ(record.service, &fs);
    EXPECT_NE(record.state, nullptr);
    EXPECT_EQ(fs.FindClose(&record), nullptr);
    EXPECT_TRUE(IsZero(record));
}

TEST_F(DiskFSTest, FailedFindFirstLeavesTheRecordIdle) {
    FindRecord record{};
    record.attributes = 77;
    EXPECT_EQ(fs.FindFirst(&record, Path("missing").c_str()), ERR_PATHNOTFOUND);
    EXPECT_TRUE(IsZero(record));
    EXPECT_EQ(fs.FindFirst(&record, nullptr), ERR_BADPARAMS);

    std::string tooLong(508, 'd');  // with "\*.*" and NUL one byte over 512
    record.attributes = 77;
    EXPECT_EQ(fs.FindFirst(&record, tooLong.c_str()), ERR_BADPARAMS);
    EXPECT_TRUE(IsZero(record));
    EXPECT_EQ(fs.FindClose(&record), ERR_BADPARAMS);
}

TEST_F(DiskFSTest, GetPathInfo) {
    char buffer[300];
    EXPECT_EQ(fs.GetPathInfo(Path("a").c_str(), PATHINFO_FULL_PATH + 1, buffer), ERR_NOTIMPLEMENTED);
    ASSERT_EQ(fs.GetPathInfo(Path("a\\..\\b").c_str(), PATHINFO_FULL_PATH, buffer), nullptr);
    EXPECT_EQ(std::string(buffer), Path("b"));

    std::string tooLong = Path(std::string(300, 'p'));
    std::memset(buffer, '#', sizeof(buffer));
    // Windows refuses an ANSI name this long (ERROR_FILENAME_EXCED_RANGE).
    EXPECT_EQ(fs.GetPathInfo(tooLong.c_str(), PATHINFO_FULL_PATH, buffer), ERR_FILE);
    EXPECT_EQ(buffer[256], '#');
    EXPECT_EQ(fs.GetPathInfo(nullptr, PATHINFO_FULL_PATH, buffer), ERR_BADPARAMS);
}

TEST_F(DiskFSTest, ExistsSeesFilesOnly) {
    WriteHostFile("f.txt", "1");
    std::filesystem::create_directory(Host("dir"));
    EXPECT_EQ(fs.Exists(Path("f.txt").c_str()), 1);
    EXPECT_EQ(fs.Exists(Path("dir").c_str()), 0);
    EXPECT_EQ(fs.Exists(Path("missing").c_str()), 0);
    EXPECT_EQ(fs.Exists(nullptr), 0);

    // Beyond what the platform's existence test can hold.
    std::string deep = "d" + std::string(60, 'e');
    std::filesystem::create_directories(Host(deep + "/" + deep));
    std::string relative = deep + "\\" + deep + "\\file.txt";
    WriteHostFile(relative, "1");
    ASSERT_GE(Path(relative).size(), 128u);
    EXPECT_EQ(fs.Exists(Path(relative).c_str()), 1);
    EXPECT_EQ(fs.Exists(Path(deep + "\\" + deep).c_str()), 0);
}

TEST_F(DiskFSTest, DeleteAndRename) {
    WriteHostFile("a", "1");
    WriteHostFile("b", "2");
    EXPECT_EQ(fs.Rename(Path("a").c_str(), Path("b").c_str()), ERR_ALREADYEXISTS);
    EXPECT_EQ(ReadHostFile("b"), "2");
    EXPECT_EQ(fs.Rename(Path("a").c_str(), Path("c").c_str()), nullptr);
    EXPECT_EQ(ReadHostFile("c"), "1");
    EXPECT_EQ(fs.Delete(Path("c").c_str()), nullptr);
    EXPECT_FALSE(std::filesystem::exists(Host("c")));
    EXPECT_EQ(fs.Delete(Path("c").c_str()), ERR_FILENOTFOUND);
    EXPECT_EQ(fs.Rename(Path("c").c_str(), Path("d").c_str()), ERR_FILENOTFOUND);
}

TEST_F(DiskFSTest, MountedUnderTheEmptyPrefix) {
    ASSERT_EQ(FileLayerInit(8), nullptr);
    ASSERT_EQ(DiskFSInit(), nullptr);
    WriteHostFile("via-api.txt", "payload");
    ErrorCode error = ERR_UNKNOWN;
    std::unique_ptr<CFile> file(g_FileApi.Open(Path("via-api.txt").c_str(), 0xC1, &error));
    ASSERT_TRUE(file);
    EXPECT_EQ(error, nullptr);
    EXPECT_EQ(file->GetSize(), 7u);
    file.reset();
    EXPECT_EQ(g_FileApi.Exists(Path("via-api.txt").c_str()), 1);
    DiskFSDone();
    const char* path = "C:\\x";
    EXPECT_EQ(FindService(&path), nullptr);
    FileLayerDone();
}

}  // namespace
