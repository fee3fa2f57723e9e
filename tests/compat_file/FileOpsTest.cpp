#include <sys/stat.h>

#include "HostDir.h"

namespace {

class FileOpsTest : public HostDir {
protected:
    mode_t HostMode(const std::string& relative) const {
        struct stat info;
        stat((host / relative).c_str(), &info);
        return info.st_mode & 0777;
    }
};

TEST_F(FileOpsTest, ReadOnlyAttributeIsTheWritePermission) {
    Put("f");
    std::filesystem::create_directory(host / "dir");
    chmod((host / "f").c_str(), 0664);
    EXPECT_EQ(GetFileAttributesA("R:\\F"), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(GetFileAttributesA("R:\\dir"), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_TRUE(SetFileAttributesA("R:\\f", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(HostMode("f"), mode_t(0444));
    EXPECT_EQ(GetFileAttributesA("R:\\f"), FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(SetFileAttributesA("R:\\f", FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(HostMode("f"), mode_t(0644));
    EXPECT_EQ(GetFileAttributesA("R:\\f"), FILE_ATTRIBUTE_NORMAL);

    EXPECT_EQ(GetFileAttributesA("R:\\missing"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetFileAttributesA("R:\\nodir\\missing"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(SetFileAttributesA("R:\\missing", FILE_ATTRIBUTE_NORMAL));
}

TEST_F(FileOpsTest, MoveRefusesAnExistingTarget) {
    Put("a", "1");
    Put("b", "2");
    EXPECT_FALSE(MoveFileA("R:\\a", "R:\\B"));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(Get("b"), "2");
    EXPECT_FALSE(MoveFileA("R:\\a", "R:\\nodir\\a"));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_TRUE(MoveFileA("R:\\a", "R:\\c"));
    EXPECT_EQ(Get("c"), "1");
    // Changing only the letter case is a rename onto itself, which works.
    EXPECT_TRUE(MoveFileA("R:\\c", "R:\\C"));
    EXPECT_EQ(Get("C"), "1");
    EXPECT_FALSE(std::filesystem::exists(host / "c"));
}

TEST_F(FileOpsTest, Directories) {
    EXPECT_TRUE(CreateDirectoryA("R:\\New\\", nullptr));
    EXPECT_TRUE(std::filesystem::is_directory(host / "New"));
    EXPECT_FALSE(CreateDirectoryA("R:\\new", nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_FALSE(CreateDirectoryA("R:\\a\\b", nullptr));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(CreateDirectoryA("R:\\", nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

    Put("New/f");
    EXPECT_FALSE(RemoveDirectoryA("R:\\NEW"));
    EXPECT_EQ(GetLastError(), ERROR_DIR_NOT_EMPTY);
    EXPECT_FALSE(RemoveDirectoryA("R:\\New\\f"));
    EXPECT_EQ(GetLastError(), ERROR_DIRECTORY);
    EXPECT_FALSE(DeleteFileA("R:\\New"));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(DeleteFileA("R:\\new\\F"));
    EXPECT_TRUE(RemoveDirectoryA("R:\\new"));
    EXPECT_FALSE(RemoveDirectoryA("R:\\new"));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(FileOpsTest, OpenFileTestsForFilesOnly) {
    Put("f");
    std::filesystem::create_directory(host / "dir");
    OFSTRUCT record;
    EXPECT_NE(OpenFile("R:\\F", &record, OF_EXIST), HFILE_ERROR);
    EXPECT_EQ(std::string(record.szPathName), "R:\\F");
    EXPECT_EQ(OpenFile("R:\\dir", &record, OF_EXIST), HFILE_ERROR);
    EXPECT_EQ(OpenFile("R:\\missing", &record, OF_EXIST), HFILE_ERROR);
    EXPECT_EQ(record.nErrCode, ERROR_FILE_NOT_FOUND);
    std::string longPath = "R:\\" + std::string(130, 'l');
    EXPECT_EQ(OpenFile(longPath.c_str(), &record, OF_EXIST), HFILE_ERROR);
    EXPECT_EQ(SetHandleCount(64), 64u);
}

}  // namespace
