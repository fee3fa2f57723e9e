// Unnamed events over a mutex and a condition variable (win32/waitable.h).
#include <windows.h>

#include "win32/waitable.h"

namespace {

class EventObject : public w32::WaitableObject {
public:
    using WaitableObject::WaitableObject;
};

}  // namespace

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR name)
{
    // Named events are shared between processes, which this layer does not model.
    if (name != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto signal = std::make_shared<w32::Signal>();
    signal->manualReset = manualReset != FALSE;
    signal->signalled = initialState != FALSE;
    return w32::RegisterHandle(new EventObject(std::move(signal)));
}

BOOL WINAPI SetEvent(HANDLE event)
{
    EventObject* object = w32::LookupHandleAs<EventObject>(event);
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    object->signal->Set();
    return TRUE;
}

BOOL WINAPI ResetEvent(HANDLE event)
{
    EventObject* object = w32::LookupHandleAs<EventObject>(event);
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(object->signal->mutex);
    object->signal->signalled = false;
    return TRUE;
}
