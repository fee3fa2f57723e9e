#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "file/MountTable.h"

namespace {

// Records the path each call receives; Open hands out a plain CFile.
struct RecordingService : CFileService {
    explicit RecordingService(std::vector<std::string>* log, const char* tag) : calls(log), name(tag) {}
    ~RecordingService() override { calls->push_back(std::string(name) + " destroyed"); }
    CFile* Open(const char* path, uint16_t, ErrorCode* error) override {
        calls->push_back(std::string(name) + " open " + path);
        if (error) *error = nullptr;
        return new CFile;
    }
    ErrorCode Delete(const char* path) override {
        calls->push_back(std::string(name) + " delete " + path);
        return nullptr;
    }
    ErrorCode Rename(const char* from, const char* to) override {
        calls->push_back(std::string(name) + " rename " + from + " " + to);
        return nullptr;
    }
    int Exists(const char* path) override {
        calls->push_back(std::string(name) + " exists " + path);
        return 1;
    }
    std::vector<std::string>* calls;
    const char* name;
};

class MountTable : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(FileLayerInit(8), nullptr); }
    void TearDown() override { FileLayerDone(); }

    RecordingService* Mount(const char* prefix, const char* tag) {
        auto* service = new RecordingService(&log, tag);
        EXPECT_EQ(MountService(prefix, service), nullptr);
        return service;
    }
    std::vector<std::string> log;
};

std::string Route(const char* path, CFileService** service) {
    *service = FindService(&path);
    return path;
}

}  // namespace

TEST_F(MountTable, LongestCaseInsensitivePrefixWins) {
    CFileService* disk = Mount("", "disk");
    CFileService* pack = Mount("DATA\\", "pack");
    CFileService* which = nullptr;
    EXPECT_EQ(Route("DATA\\Patch.ini", &which), "Patch.ini");
    EXPECT_EQ(which, pack);
    EXPECT_EQ(Route("data\\FILES\\a.txt", &which), "FILES\\a.txt");
    EXPECT_EQ(which, pack);
    EXPECT_EQ(Route("DATA", &which), "DATA");
    EXPECT_EQ(which, disk);
    EXPECT_EQ(Route("DATAX\\y", &which), "DATAX\\y");
    EXPECT_EQ(which, disk);
    EXPECT_EQ(Route("C:\\x", &which), "C:\\x");
    EXPECT_EQ(which, disk);
}

TEST_F(MountTable, EqualPrefixesKeepMountOrderAndTheFirstWins) {
    Mount("B", "b");
    CFileService* lower = Mount("a", "a");
    Mount("A", "A");
    CFileService* which = nullptr;
    Route("Ax", &which);
    EXPECT_EQ(which, lower) << "a was mounted first, A sorts after it";
    // Unmounting "A" takes the first equal entry; the other stays reachable.
    CFileService* removed = UnmountService("A");
    EXPECT_EQ(removed, lower);
    delete removed;
    Route("ax", &which);
    ASSERT_NE(which, nullptr);
    EXPECT_STREQ(static_cast<RecordingService*>(which)->name, "A");
}

TEST_F(MountTable, UnmountNeedsTheWholePrefix) {
    Mount("", "disk");
    CFileService* pack = Mount("DATA\\", "pack");
    EXPECT_EQ(UnmountService("DATA"), nullptr);
    CFileService* removed = UnmountService("data\\");
    EXPECT_EQ(removed, pack);
    delete removed;
    CFileService* which = nullptr;
    Route("DATA\\Patch.ini", &which);
    EXPECT_STREQ(static_cast<RecordingService*>(which)->name, "disk");
}

TEST_F(MountTable, RefusesMountsBeyondItsCapacity) {
    FileLayerDone();
    ASSERT_EQ(FileLayerInit(2), nullptr);
    Mount("", "one");
    Mount("x", "two");
    RecordingService extra(&log, "extra");
    EXPECT_EQ(MountService("y", &extra), ERR_UNKNOWN);
    CFileService* which = nullptr;
    Route("y", &which);
    EXPECT_NE(which, &extra);
}

TEST_F(MountTable, FileLayerDoneDestroysWhatIsStillMounted) {
    Mount("", "disk");
    Mount("DATA\\", "pack");
    FileLayerDone();
    EXPECT_EQ(log, (std::vector<std::string>{"disk destroyed", "pack destroyed"}));
    ASSERT_EQ(FileLayerInit(8), nullptr);
}

TEST_F(MountTable, FileApiPassesTheRemainderAndReportsMissingServices) {
    Mount("DATA\\", "pack");
    ErrorCode error = ERR_WHATAMESS;
    EXPECT_EQ(g_FileApi.Open("C:\\x", FM_READ, &error), nullptr);
    EXPECT_EQ(error, ERR_WHATAMESS) << "no service leaves the error as it was";
    EXPECT_EQ(g_FileApi.Delete("C:\\x"), ERR_FILE);
    EXPECT_EQ(g_FileApi.Exists("C:\\x"), 0);
    EXPECT_EQ(g_FileApi.MakeDirectory("C:\\", "x"), ERR_FILE);
    EXPECT_EQ(g_FileApi.RemoveDirectory("C:\\", "x"), ERR_FILE);
    EXPECT_EQ(g_FileApi.GetPathInfo("C:\\x", PATHINFO_FULL_PATH, nullptr), ERR_FILE);
    EXPECT_EQ(g_FileApi.SetPathInfo("C:\\x", 1, nullptr), ERR_FILE);

    FindRecord record{};
    EXPECT_EQ(g_FileApi.FindFirst(&record, "C:\\"), ERR_FILE);
    EXPECT_EQ(record.service, nullptr);
    EXPECT_EQ(g_FileApi.FindNext(&record), ERR_FILE);
    EXPECT_EQ(g_FileApi.FindClose(&record), ERR_FILE);

    CFile* file = g_FileApi.Open("data\\Patch.ini", FM_READ, &error);
    ASSERT_NE(file, nullptr);
    delete file;
    EXPECT_EQ(error, nullptr);
    EXPECT_EQ(g_FileApi.Exists("DATA\\FILES\\a"), 1);
    // The base service does not list: the code passes through unchanged.
    EXPECT_EQ(g_FileApi.FindFirst(&record, "DATA\\FILES"), ERR_NOTIMPLEMENTED);
    EXPECT_EQ(log, (std::vector<std::string>{"pack open Patch.ini", "pack exists FILES\\a"}));
}

TEST_F(MountTable, RenameAcrossServicesTouchesNeither) {
    Mount("", "disk");
    Mount("DATA\\", "pack");
    EXPECT_EQ(g_FileApi.Rename("DATA\\a", "C:\\a"), ERR_NOTIMPLEMENTED);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(g_FileApi.Rename("C:\\a", "C:\\b"), nullptr);
    EXPECT_EQ(log, (std::vector<std::string>{"disk rename C:\\a C:\\b"}));
}

TEST(MountTableUnset, WithoutATableEveryMountIsRefused) {
    CFileService service;
    EXPECT_EQ(MountService("x", &service), ERR_UNKNOWN);
    const char* path = "x";
    EXPECT_EQ(FindService(&path), nullptr);
}
