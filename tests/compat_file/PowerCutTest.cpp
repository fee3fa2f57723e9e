// The power-loss model (W32_FAULT_POWER): what a cut leaves of a file
// written beside its target and moved over it, by what was made durable
// before; and the volume serial numbers that tell a folder's real volume.
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "HostDir.h"

namespace {

class PowerCutTest : public HostDir {
protected:
    // Drive S maps a second folder: another volume.
    void SetUp() override {
        HostDir::SetUp();
        std::filesystem::create_directories(host / "s");
        setenv("W32_DRIVE_S", (host / "s").c_str(), 1);
    }
    void TearDown() override {
        unsetenv("W32_DRIVE_S");
        HostDir::TearDown();
    }
};

struct Row {
    const char* name;
    const char* mode;     // "" keeps every change of names, ":drop" undoes those not durable
    bool flushFile;       // the new file's own flush before its close
    bool throughHandle;   // the new file written through a FILE_FLAG_WRITE_THROUGH handle
    const char* volume;   // the volume flushed before the move, or null
    bool writeThrough;    // the move written through
    const char* target;   // what the target then holds
    const char* partial;  // and the temporary name
};

const std::string kZeros(6, '\0');

// In a child process: the new bytes written to t.~qp, closed, moved over t
// ("old!!!"), then one more written file closed, the event at which the power
// goes. The parent sees what is left.
TEST_F(PowerCutTest, CutLeavesWhatTheModelAllows) {
    const Row rows[] = {
        {"UnflushedBytesLostTheMoveKept", "", false, false, nullptr, false, "", "<no file>"},
        {"UnflushedBytesLostTheMoveUndone", ":drop", false, false, nullptr, false, "old!!!", "<no file>"},
        {"FlushedBytesKept", "", true, false, nullptr, false, "newnew", "<no file>"},
        {"FlushedBytesKeptTheLaterMoveUndone", ":drop", true, false, nullptr, false, "old!!!", "newnew"},
        {"WriteThroughHandleKeepsItsBytes", "", false, true, nullptr, false, "newnew", "<no file>"},
        {"WriteThroughMoveKept", ":drop", true, false, nullptr, true, "newnew", "<no file>"},
        {"VolumeFlushMakesAllDurable", "", false, false, "\\\\.\\R:", false, "newnew", "<no file>"},
        {"VolumeFlushKeepsTheMovesBeforeIt", ":drop", false, false, "\\\\.\\R:", false, "old!!!", "newnew"},
        {"AnotherVolumesFlushKeepsNothingHere", "", false, false, "\\\\.\\S:", false, "", "<no file>"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::filesystem::remove_all(host / "g");
        Put("g/t", "old!!!");
        const int events = 2 + row.flushFile + (row.volume != nullptr);
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            setenv("W32_FAULT_POWER", (std::to_string(events + 1) + row.mode).c_str(), 1);
            w32::ReloadEnvironmentFaults();
            DWORD count = 0;
            HANDLE file = CreateFileA("R:\\g\\t.~qp", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      row.throughHandle ? FILE_FLAG_WRITE_THROUGH : FILE_ATTRIBUTE_NORMAL, nullptr);
            WriteFile(file, "newnew", 6, &count, nullptr);
            if (row.flushFile) FlushFileBuffers(file);
            CloseHandle(file);
            if (row.volume) {
                HANDLE volume = Open(row.volume, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     OPEN_EXISTING);
                FlushFileBuffers(volume);
                CloseHandle(volume);
            }
            MoveFileExA("R:\\g\\t.~qp", "R:\\g\\t",
                        MOVEFILE_REPLACE_EXISTING | (row.writeThrough ? MOVEFILE_WRITE_THROUGH : 0));
            HANDLE other = Open("R:\\g\\other", GENERIC_WRITE, 0, CREATE_ALWAYS);
            WriteFile(other, "x", 1, &count, nullptr);
            CloseHandle(other);
            _exit(3);  // the power did not go
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the power did not go";
        EXPECT_EQ(Contents("R:\\g\\t"), *row.target ? std::string(row.target) : kZeros);
        EXPECT_EQ(Contents("R:\\g\\t.~qp"), row.partial);
        // Its close was the cut: its byte never reached the disk.
        EXPECT_EQ(Get("g/other").find('x'), std::string::npos);
    }
}

// A folder reached through a link to another drive's folder lies on that
// drive's volume; a folder opens as a handle only with backup semantics.
TEST_F(PowerCutTest, FolderHandleTellsItsVolume) {
    Put("games/quor/a");
    Put("s/quor/a");
    std::filesystem::create_directory_symlink(host / "s/quor", host / "games/linked");
    DWORD serialR = 0, serialS = 0;
    ASSERT_TRUE(GetVolumeInformationA("R:\\", nullptr, 0, &serialR, nullptr, nullptr, nullptr, 0));
    ASSERT_TRUE(GetVolumeInformationA("S:\\", nullptr, 0, &serialS, nullptr, nullptr, nullptr, 0));
    EXPECT_NE(serialR, serialS);
    EXPECT_FALSE(GetVolumeInformationA("Q:\\", nullptr, 0, &serialS, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(OpenError("R:\\games\\quor", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING), ERROR_ACCESS_DENIED);
    auto serialOf = [](const char* path) {
        HANDLE folder = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        EXPECT_NE(folder, INVALID_HANDLE_VALUE) << path;
        BY_HANDLE_FILE_INFORMATION information{};
        EXPECT_TRUE(GetFileInformationByHandle(folder, &information));
        EXPECT_TRUE(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
        CloseHandle(folder);
        return information.dwVolumeSerialNumber;
    };
    EXPECT_EQ(serialOf("R:\\games\\quor\\"), serialR);
    EXPECT_EQ(serialOf("R:\\games\\linked\\"), serialS);
}

}  // namespace
