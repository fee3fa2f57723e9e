// Named mutexes across processes, with the stand-in game program
// tests/hostbin/w32_hold_mutex as the holder.
#include "ChildProcess.h"
#include "TempDir.h"

#include <windows.h>
#include "win32/hostio.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

class MutexTest : public ::testing::Test {
protected:
    void SetUp() override { setenv("W32_MUTEX_DIR", dir_.Path("mutexes").c_str(), 1); }
    void TearDown() override { unsetenv("W32_MUTEX_DIR"); }

    // Starts a holder and returns its first line ("ready" or "ready (already existed)").
    static std::string Start(ChildProcess& child)
    {
        std::string line;
        EXPECT_TRUE(child.ReadLine(&line));
        return line;
    }

    TempDir dir_;
    std::string name_ = "Quor_Kingsfall_Ver_01-" + std::to_string(getpid());
};

TEST_F(MutexTest, ExistsWhileAnotherProcessHoldsItAndVanishesWhenItExits)
{
    {
        ChildProcess game(W32_HOLD_MUTEX, {name_});
        ASSERT_EQ(Start(game), "ready");
        ChildProcess second(W32_HOLD_MUTEX, {name_});
        EXPECT_EQ(Start(second), "ready (already existed)");
        second.CloseStdin();
        EXPECT_EQ(second.Wait(), 2);
        game.CloseStdin();
        EXPECT_EQ(game.Wait(), 0);
    }
    ChildProcess again(W32_HOLD_MUTEX, {name_});
    EXPECT_EQ(Start(again), "ready");
}

TEST_F(MutexTest, AKilledHolderReleasesIt)
{
    {
        ChildProcess game(W32_HOLD_MUTEX, {name_});
        ASSERT_EQ(Start(game), "ready");
        game.Kill();
        game.Wait();
    }
    ChildProcess again(W32_HOLD_MUTEX, {name_});
    EXPECT_EQ(Start(again), "ready");
}

TEST_F(MutexTest, TheProgramSeesERROR_ALREADY_EXISTSWhileTheGameRuns)
{
    ChildProcess game(W32_HOLD_MUTEX, {name_ + "-seen"});
    ASSERT_EQ(Start(game), "ready");
    SetLastError(0);
    const HANDLE mutex = CreateMutexA(nullptr, FALSE, (name_ + "-seen").c_str());
    EXPECT_NE(mutex, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
}

// As for a mutex of another account: no handle, the error, and no mutex.
TEST_F(MutexTest, AnInjectedFaultCreatesNothing)
{
    setenv("W32_FAULT_MUTEX", "5", 1);
    w32::ReloadEnvironmentFaults();
    EXPECT_EQ(CreateMutexA(nullptr, FALSE, (name_ + "-denied").c_str()), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    unsetenv("W32_FAULT_MUTEX");
    w32::ReloadEnvironmentFaults();
    ChildProcess game(W32_HOLD_MUTEX, {name_ + "-denied"});
    EXPECT_EQ(Start(game), "ready");
}

TEST_F(MutexTest, NamesAreCaseSensitiveAndANewNameIsCreated)
{
    SetLastError(ERROR_ALREADY_EXISTS);
    EXPECT_NE(CreateMutexA(nullptr, FALSE, (name_ + "-own").c_str()), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_NE(CreateMutexA(nullptr, TRUE, (name_ + "-OWN").c_str()), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    // A second handle in the same process: the mutex already exists.
    EXPECT_NE(CreateMutexA(nullptr, FALSE, (name_ + "-own").c_str()), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    // Closing the only handle ends the mutex.
    const HANDLE mine = CreateMutexA(nullptr, FALSE, (name_ + "-closed").c_str());
    ASSERT_NE(mine, nullptr);
    EXPECT_TRUE(CloseHandle(mine));
    EXPECT_NE(CreateMutexA(nullptr, FALSE, (name_ + "-closed").c_str()), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    // Names with characters a file name cannot hold.
    EXPECT_NE(CreateMutexA(nullptr, FALSE, "Global\\a/b:c*"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
}

} // namespace
