#include "win32/handles.h"

#include <mutex>
#include <unordered_set>

#include "win32/errors.h"

namespace w32 {
namespace {

// Never destroyed: handles still open when the process ends are released by
// its end, as on Windows, and threads still running then can use them.
std::mutex& RegistryLock() {
    static std::mutex* lock = new std::mutex;
    return *lock;
}

std::unordered_set<KernelObject*>& Registry() {
    static auto* live = new std::unordered_set<KernelObject*>;
    return *live;
}

}  // namespace

KernelObject::~KernelObject() = default;

HANDLE RegisterHandle(KernelObject* object) {
    std::lock_guard<std::mutex> guard(RegistryLock());
    Registry().insert(object);
    return object;
}

KernelObject* LookupHandle(HANDLE handle) {
    std::lock_guard<std::mutex> guard(RegistryLock());
    auto* object = static_cast<KernelObject*>(handle);
    return Registry().count(object) ? object : nullptr;
}

bool ReleaseHandle(HANDLE handle) {
    auto* object = static_cast<KernelObject*>(handle);
    {
        std::lock_guard<std::mutex> guard(RegistryLock());
        if (!Registry().erase(object)) {
            SetLastError(ERROR_INVALID_HANDLE);
            return false;
        }
    }
    bool closed = object->Close();
    delete object;
    return closed;
}

}  // namespace w32

BOOL WINAPI CloseHandle(HANDLE object) {
    w32::KernelObject* live = w32::LookupHandle(object);
    if (!live || !live->ClosedByCloseHandle()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return w32::ReleaseHandle(object) ? TRUE : FALSE;
}
