// CreateThread over POSIX threads. The threads run detached; a thread handle
// can be waited on until the thread has returned, and closing it is never
// required of the program.
#include <windows.h>

#include "win32/handles.h"
#include "env_faults.h"

#include <chrono>
#include <condition_variable>
#include <limits.h>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <vector>

namespace {

// Whether the thread has returned; shared by the thread and its handle.
struct ThreadEnd {
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
};

struct ThreadObject {
    LPTHREAD_START_ROUTINE start;
    LPVOID parameter;
    DWORD id;
    std::shared_ptr<ThreadEnd> end;
};

// The handle the program holds; the start record belongs to the thread.
class ThreadHandle : public w32::KernelObject {
public:
    explicit ThreadHandle(std::shared_ptr<ThreadEnd> threadEnd) : end(std::move(threadEnd)) {}
    std::shared_ptr<ThreadEnd> end;
};

std::mutex g_ThreadMutex;

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
    const ThreadObject* thread = static_cast<const ThreadObject*>(argument);
    t_ThreadId = thread->id;
    const LPTHREAD_START_ROUTINE start = thread->start;
    const LPVOID parameter = thread->parameter;
    const std::shared_ptr<ThreadEnd> end = thread->end;
    delete thread;
    start(parameter);
    {
        std::lock_guard<std::mutex> lock(end->mutex);
        end->done = true;
    }
    end->ended.notify_all();
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
    if (w32::TakeThreadFault()) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    if (stackSize != 0) {
        const SIZE_T minimum = static_cast<SIZE_T>(PTHREAD_STACK_MIN);
        pthread_attr_setstacksize(&attributes, stackSize < minimum ? minimum : stackSize);
    }

    auto end = std::make_shared<ThreadEnd>();
    ThreadObject* thread = new ThreadObject{start, parameter, 0, end};
    {
        std::lock_guard<std::mutex> lock(g_ThreadMutex);
        thread->id = NextThreadId();
    }
    const DWORD id = thread->id;
    pthread_t handle;
    const int error = pthread_create(&handle, &attributes, RunThread, thread);
    pthread_attr_destroy(&attributes);
    if (error != 0) {
        delete thread;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (threadId != nullptr)
        *threadId = id;
    return w32::RegisterHandle(new ThreadHandle(end));
}

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds)
{
    ThreadHandle* thread = w32::LookupHandleAs<ThreadHandle>(handle);
    if (thread == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    const std::shared_ptr<ThreadEnd> end = thread->end;
    std::unique_lock<std::mutex> lock(end->mutex);
    const auto done = [&end] { return end->done; };
    if (milliseconds == INFINITE)
        end->ended.wait(lock, done);
    else if (!end->ended.wait_for(lock, std::chrono::milliseconds(milliseconds), done))
        return WAIT_TIMEOUT;
    return WAIT_OBJECT_0;
}

DWORD WINAPI GetCurrentThreadId(void)
{
    if (t_ThreadId == 0) {
        std::lock_guard<std::mutex> lock(g_ThreadMutex);
        t_ThreadId = NextThreadId();
    }
    return t_ThreadId;
}
