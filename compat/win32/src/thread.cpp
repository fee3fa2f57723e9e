// CreateThread over POSIX threads. The threads run detached: this layer has
// no waiting on thread handles. The handle is a kernel object that
// CloseHandle closes; the thread itself gets its own copy of what it runs, so
// closing the handle early never pulls anything from under it.
#include <windows.h>

#include "win32/handles.h"

#include <limits.h>
#include <mutex>
#include <pthread.h>

namespace {

struct ThreadStart {
    LPTHREAD_START_ROUTINE start;
    LPVOID parameter;
    DWORD id;
};

class ThreadObject : public w32::KernelObject {
public:
    explicit ThreadObject(DWORD threadId) : id(threadId) {}
    const DWORD id;
};

std::mutex g_Mutex;

// Thread ids are handed out in order; a thread not made by CreateThread (the
// main thread) gets its id when it first asks.
DWORD NextThreadId()
{
    static DWORD s_NextId = 1;
    return s_NextId++;
}
thread_local DWORD t_ThreadId = 0;

void* RunThread(void* argument)
{
    const ThreadStart run = *static_cast<ThreadStart*>(argument);
    delete static_cast<ThreadStart*>(argument);
    t_ThreadId = run.id;
    run.start(run.parameter);
    return nullptr;
}

} // namespace

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                           LPVOID parameter, DWORD flags, LPDWORD threadId)
{
    // Suspended creation needs ResumeThread, which this layer does not have.
    if (start == nullptr || (flags & ~static_cast<DWORD>(STACK_SIZE_PARAM_IS_A_RESERVATION)) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    if (stackSize != 0) {
        const SIZE_T minimum = static_cast<SIZE_T>(PTHREAD_STACK_MIN);
        pthread_attr_setstacksize(&attributes, stackSize < minimum ? minimum : stackSize);
    }

    DWORD id;
    {
        std::lock_guard<std::mutex> lock(g_Mutex);
        id = NextThreadId();
    }
    ThreadStart* run = new ThreadStart{start, parameter, id};
    pthread_t thread;
    const int error = pthread_create(&thread, &attributes, RunThread, run);
    pthread_attr_destroy(&attributes);
    if (error != 0) {
        delete run;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (threadId != nullptr)
        *threadId = id;
    return w32::RegisterHandle(new ThreadObject(id));
}

DWORD WINAPI GetCurrentThreadId(void)
{
    if (t_ThreadId == 0) {
        std::lock_guard<std::mutex> lock(g_Mutex);
        t_ThreadId = NextThreadId();
    }
    return t_ThreadId;
}
