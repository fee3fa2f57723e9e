#include "app/HelperThread.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/Win32.h"

namespace {

struct Job {
    HANDLE release;  // waited for before the job returns
    DWORD thread = 0;
    int runs = 0;
};

void RunJob(void* argument) {
    auto* job = static_cast<Job*>(argument);
    WaitForSingleObject(job->release, INFINITE);
    job->thread = GetCurrentThreadId();
    ++job->runs;
}

// Jobs one after another all run on one parked thread, not the caller's;
// jobs that overlap take a thread each until none is idle, and the caller is
// then told to do the work itself.
TEST(HelperThread, ParkedThreadsServeJobAfterJob) {
    HANDLE release = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    ASSERT_NE(release, nullptr);
    std::vector<Job> jobs(20, Job{release});
    for (Job& job : jobs) {
        void* started = StartHelperThread(RunJob, &job);
        ASSERT_NE(started, nullptr);
        WaitHelperThread(started);
        EXPECT_EQ(job.runs, 1);
        EXPECT_NE(job.thread, GetCurrentThreadId());
        EXPECT_EQ(job.thread, jobs[0].thread);
    }
    ResetEvent(release);
    std::vector<Job> held(kParkedHelperThreads, Job{release});
    std::vector<void*> started;
    for (Job& job : held) started.push_back(StartHelperThread(RunJob, &job));
    Job refused{release};
    EXPECT_EQ(StartHelperThread(RunJob, &refused), nullptr);
    SetEvent(release);
    for (void* token : started) {
        ASSERT_NE(token, nullptr);
        WaitHelperThread(token);
    }
    EXPECT_EQ(refused.runs, 0);
    for (size_t i = 1; i < held.size(); ++i)
        for (size_t j = 0; j < i; ++j) EXPECT_NE(held[i].thread, held[j].thread);
    CloseHandle(release);
}

}  // namespace
