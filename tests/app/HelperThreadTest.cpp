#include "app/HelperThread.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/Win32.h"

namespace {

struct Job {
    DWORD thread = 0;  // where it ran
    int runs = 0;
    HANDLE release = nullptr;  // waited for before returning, when set
};

void RunJob(void* argument) {
    auto* job = static_cast<Job*>(argument);
    if (job->release) WaitForSingleObject(job->release, INFINITE);
    job->thread = GetCurrentThreadId();
    ++job->runs;
}

// One job after another: each runs once, on a thread not the caller's, and
// the same parked thread takes them all (no thread started per job).
TEST(HelperThread, JobsOneAfterAnotherShareOneParkedThread) {
    std::vector<Job> jobs(40);
    for (Job& job : jobs) {
        void* started = StartHelperThread(RunJob, &job);
        ASSERT_NE(started, nullptr);
        WaitHelperThread(started);
    }
    for (const Job& job : jobs) {
        EXPECT_EQ(job.runs, 1);
        EXPECT_NE(job.thread, GetCurrentThreadId());
        EXPECT_EQ(job.thread, jobs[0].thread);
    }
}

// Overlapping jobs each get a thread of their own while one is idle; with
// every one busy the caller is told to do the work itself, and the threads
// serve again once waited for.
TEST(HelperThread, OverlappingJobsTakeIdleThreadsOrNone) {
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(release, nullptr);
    std::vector<Job> held(3, Job{0, 0, release});
    std::vector<void*> started;
    for (Job& job : held) started.push_back(StartHelperThread(RunJob, &job));
    Job refused;
    EXPECT_EQ(StartHelperThread(RunJob, &refused), nullptr);
    SetEvent(release);
    for (void* token : started) {
        ASSERT_NE(token, nullptr);
        WaitHelperThread(token);
    }
    EXPECT_EQ(refused.runs, 0);
    for (const Job& job : held) {
        EXPECT_EQ(job.runs, 1);
        for (const Job& other : held) {
            if (&other != &job) {
                EXPECT_NE(job.thread, other.thread);
            }
        }
    }
    Job again;
    void* token = StartHelperThread(RunJob, &again);
    ASSERT_NE(token, nullptr);
    WaitHelperThread(token);
    EXPECT_EQ(again.runs, 1);
    CloseHandle(release);
}

}  // namespace
