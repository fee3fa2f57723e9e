// Modal dialogs: WM_INITDIALOG with the init parameter, texts recorded in the
// transcript, and the wait for EndDialog from another thread.
#include "TempDir.h"
#include "Transcript.h"

#include <windows.h>
#include <commctrl.h>
#include "win32/hostio.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>

namespace {

struct DialogRun {
    HWND dialog = nullptr;
    HWND bar = nullptr;
    BOOL posted = FALSE;
    LPARAM initParam = 0;
    bool endInInit = false;
};

DialogRun* g_Run = nullptr;

DWORD WINAPI Worker(LPVOID parameter)
{
    DialogRun* run = static_cast<DialogRun*>(parameter);
    SetDlgItemTextA(run->dialog, 1000, "Updating...");
    // A control's message from the worker finds its window while the dialog is up.
    run->bar = GetDlgItem(run->dialog, 1001);
    run->posted = PostMessageA(run->bar, PBM_SETPOS, 50, 0);
    // The dialog's caller may return at once: nothing of run is touched after this.
    EndDialog(run->dialog, 42);
    return 0;
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM, LPARAM lParam)
{
    if (message != WM_INITDIALOG)
        return FALSE;
    g_Run->dialog = dialog;
    g_Run->initParam = lParam;
    SetWindowTextA(dialog, "QUOR Patch");
    if (g_Run->endInInit) {
        EndDialog(dialog, 5);
        return FALSE;
    }
    DWORD id = 0;
    EXPECT_NE(CreateThread(nullptr, 0, Worker, g_Run, 0, &id), nullptr);
    EXPECT_NE(id, 0u);
    return FALSE;
}

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override { setenv("W32_TRANSCRIPT", transcript_.c_str(), 1); }
    void TearDown() override { unsetenv("W32_TRANSCRIPT"); }
    TempDir dir_;
    std::string transcript_ = dir_.Path("transcript.jsonl");
};

TEST_F(DialogTest, WaitsForEndDialogFromTheWorkerThread)
{
    DialogRun run;
    g_Run = &run;
    const INT_PTR result =
        DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(101), nullptr, DialogProc, 1234);
    EXPECT_EQ(result, 42);
    EXPECT_EQ(run.initParam, 1234);
    EXPECT_FALSE(IsWindow(run.dialog));
    EXPECT_TRUE(run.posted);
    EXPECT_FALSE(PostMessageA(run.bar, PBM_SETPOS, 100, 0));  // gone with its dialog
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    // A dialog that has ended cannot be ended again.
    EXPECT_FALSE(EndDialog(run.dialog, 1));

    const auto records = ReadTranscript(transcript_);
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].call, "DialogBoxParamA");
    EXPECT_EQ(records[0].id, 101);
    EXPECT_EQ(records[1].call, "SetWindowTextA");
    EXPECT_EQ(records[1].id, 101);
    EXPECT_EQ(records[1].text, "QUOR Patch");
    EXPECT_EQ(records[2].call, "SetDlgItemTextA");
    EXPECT_EQ(records[2].id, 1000);
    EXPECT_EQ(records[2].text, "Updating...");
    EXPECT_EQ(records[3].call, "EndDialog");
    EXPECT_EQ(records[3].result, 42);
}

TEST_F(DialogTest, EndDialogDuringInitialisationEndsItAtOnce)
{
    DialogRun run;
    run.endInInit = true;
    g_Run = &run;
    EXPECT_EQ(DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(101), nullptr, DialogProc, 0), 5);
}

TEST_F(DialogTest, TheTemplateMustComeFromTheProgramsOwnModule)
{
    DialogRun run;
    g_Run = &run;
    EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCEA(101), nullptr, DialogProc, 0), -1);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_DATA_NOT_FOUND);
    EXPECT_EQ(run.dialog, nullptr);
}

TEST_F(DialogTest, AnInjectedFaultKeepsTheFirstDialogsFromAppearing)
{
    setenv("W32_FAULT_DIALOG", "1", 1);
    w32::ReloadEnvironmentFaults();
    DialogRun run;
    run.endInInit = true;
    g_Run = &run;
    EXPECT_EQ(DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(101), nullptr, DialogProc, 0), -1);
    EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(run.dialog, nullptr);
    EXPECT_TRUE(ReadTranscript(transcript_).empty());
    EXPECT_EQ(DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(101), nullptr, DialogProc, 0), 5);
    unsetenv("W32_FAULT_DIALOG");
    w32::ReloadEnvironmentFaults();
}

TEST(Thread, RunsTheRoutineWithItsParameter)
{
    std::atomic<int> value{0};
    const HANDLE thread = CreateThread(
        nullptr, 0, [](LPVOID p) -> DWORD {
            static_cast<std::atomic<int>*>(p)->store(7);
            return 0;
        },
        &value, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(value.load(), 7);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);  // ended stays ended
    EXPECT_TRUE(CloseHandle(thread));
    EXPECT_FALSE(CloseHandle(thread));
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
}

TEST(Thread, AWaitTimesOutWhileTheThreadRuns)
{
    std::atomic<bool> release{false};
    const HANDLE thread = CreateThread(
        nullptr, 0, [](LPVOID p) -> DWORD {
            while (!static_cast<std::atomic<bool>*>(p)->load()) {
            }
            return 0;
        },
        &release, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, 0), DWORD(WAIT_TIMEOUT));
    EXPECT_EQ(WaitForSingleObject(thread, 5), DWORD(WAIT_TIMEOUT));
    release.store(true);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(thread));
}

TEST(Event, AutoResetLetsOneWaitThroughManualResetStaysUntilReset)
{
    const HANDLE automatic = CreateEventA(nullptr, FALSE, TRUE, nullptr);
    const HANDLE manual = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(automatic, nullptr);
    ASSERT_NE(manual, nullptr);
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(automatic, 5), DWORD(WAIT_TIMEOUT));
    EXPECT_EQ(WaitForSingleObject(manual, 0), DWORD(WAIT_TIMEOUT));
    EXPECT_TRUE(SetEvent(manual));
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(manual, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(ResetEvent(manual));
    EXPECT_EQ(WaitForSingleObject(manual, 0), DWORD(WAIT_TIMEOUT));
    EXPECT_TRUE(CloseHandle(automatic));
    EXPECT_TRUE(CloseHandle(manual));
    // Closed, named (other processes' events are not modelled), or not an event.
    EXPECT_FALSE(SetEvent(manual));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_FAILED);
    EXPECT_EQ(CreateEventA(nullptr, FALSE, FALSE, "name"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    const HANDLE thread = CreateThread(nullptr, 0, [](LPVOID) -> DWORD { return 0; }, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_FALSE(ResetEvent(thread));
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(thread));
}

} // namespace
