#include "HostDir.h"

namespace {

class FindTest : public HostDir {
protected:
    struct Entry {
        std::string name;
        DWORD attributes;
    };
    // The whole listing of pattern, and the error that ended it.
    std::vector<Entry> Find(const std::string& pattern, DWORD* end) {
        std::vector<Entry> entries;
        WIN32_FIND_DATAA data;
        SetLastError(0);
        HANDLE search = FindFirstFileA(pattern.c_str(), &data);
        if (search == INVALID_HANDLE_VALUE) {
            *end = GetLastError();
            return entries;
        }
        do entries.push_back({data.cFileName, data.dwFileAttributes});
        while (FindNextFileA(search, &data));
        *end = GetLastError();
        EXPECT_TRUE(FindClose(search));
        return entries;
    }
    static std::vector<std::string> Names(const std::vector<Entry>& entries) {
        std::vector<std::string> names;
        for (const Entry& entry : entries) names.push_back(entry.name);
        return names;
    }
};

TEST_F(FindTest, DotEntriesFirstThenNamesInCaseInsensitiveOrder) {
    Put("d/beta", "22");
    Put("d/Alpha", "1");
    std::filesystem::create_directory(host / "d/gamma");
    DWORD end = 0;
    auto entries = Find("R:\\d\\*.*", &end);
    EXPECT_EQ(Names(entries), (std::vector<std::string>{".", "..", "Alpha", "beta", "gamma"}));
    EXPECT_EQ(end, ERROR_NO_MORE_FILES);
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries[0].attributes, FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(entries[2].attributes, FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(entries[4].attributes, FILE_ATTRIBUTE_DIRECTORY);
    // The directory part resolves without regard to case too.
    EXPECT_EQ(Find("R:\\D\\*.*", &end).size(), 5u);
}

TEST_F(FindTest, ADriveRootHasNoDotEntries) {
    DWORD end = 0;
    EXPECT_TRUE(Find("R:\\*.*", &end).empty());
    EXPECT_EQ(end, ERROR_FILE_NOT_FOUND);
    Put("only");
    EXPECT_EQ(Names(Find("R:\\*.*", &end)), (std::vector<std::string>{"only"}));
}

TEST_F(FindTest, PatternsAndFailures) {
    Put("d/readme.txt");
    Put("d/data.bin");
    Put("d/noext");
    DWORD end = 0;
    EXPECT_EQ(Names(Find("R:\\d\\*.TXT", &end)), (std::vector<std::string>{"readme.txt"}));
    EXPECT_EQ(Names(Find("R:\\d\\d?ta.*", &end)), (std::vector<std::string>{"data.bin"}));
    EXPECT_EQ(Names(Find("R:\\d\\NOEXT", &end)), (std::vector<std::string>{"noext"}));
    EXPECT_EQ(Find("R:\\d\\*.zip", &end).size(), 0u);
    EXPECT_EQ(end, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Find("R:\\missing\\*.*", &end).size(), 0u);
    EXPECT_EQ(end, ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(Find("R:\\d\\readme.txt\\*.*", &end).size(), 0u);
    EXPECT_EQ(end, ERROR_PATH_NOT_FOUND);
}

TEST_F(FindTest, ReadOnlyAttributeAndSearchHandleLifetime) {
    Put("d/ro");
    std::filesystem::permissions(host / "d/ro", std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::remove);
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA("R:\\d\\ro", &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(CloseHandle(search));  // a search handle has its own closing call
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_TRUE(FindClose(search));
    EXPECT_FALSE(FindClose(search));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(FindNextFileA(search, &data));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

}  // namespace
