// CreateThread over POSIX threads. The threads run detached; a thread handle
// can be waited on until the thread has returned, and closing it is never
// required of the program.
#include <windows.h>

#include "win32/waitable.h"
#include "env_faults.h"

#include <limits.h>
#include <memory>
#include <mutex>
#include <pthread.h>

namespace {

// The thread's end is a manual-reset signal shared by the thread and its
// handle.
struct ThreadObject {
    LPTHREAD_START_ROUTINE start;
    LPVOID parameter;
    DWORD id;
    std::shared_ptr<w32::Signal> end;
};

// The handle the program holds; the start record belongs to the thread.
class ThreadHandle : public w32::WaitableObject {
public:
    using WaitableObject::WaitableObject;
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
    const std::shared_ptr<w32::Signal> end = thread->end;
    delete thread;
    start(parameter);
    end->Set();
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

    auto end = std::make_shared<w32::Signal>();
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
    w32::WaitableObject* object = w32::LookupHandleAs<w32::WaitableObject>(handle);
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    const std::shared_ptr<w32::Signal> signal = object->signal;
    return signal->Wait(milliseconds) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

DWORD WINAPI GetCurrentThreadId(void)
{
    if (t_ThreadId == 0) {
        std::lock_guard<std::mutex> lock(g_ThreadMutex);
        t_ThreadId = NextThreadId();
    }
    return t_ThreadId;
}
