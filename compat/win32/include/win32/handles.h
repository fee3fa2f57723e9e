// Kernel objects of the host layer: every HANDLE it hands out is a
// registered KernelObject, so that CloseHandle can validate and close any of
// them (files, and whatever other kinds the host layer adds) in one place.
#pragma once

#include "win32/base.h"

namespace w32 {

class KernelObject {
public:
    KernelObject() = default;
    KernelObject(const KernelObject&) = delete;
    KernelObject& operator=(const KernelObject&) = delete;
    virtual ~KernelObject();
    // False for objects with their own closing call (search handles).
    virtual bool ClosedByCloseHandle() const { return true; }
    // Releases host resources; false (with the last error set) when the host
    // reported a failure. Called once, by CloseHandle or the own closing call.
    virtual bool Close() { return true; }
};

// Registers object (taking ownership) and returns its handle.
HANDLE RegisterHandle(KernelObject* object);
// The live object of handle, or null.
KernelObject* LookupHandle(HANDLE handle);
template <class T>
T* LookupHandleAs(HANDLE handle) {
    return dynamic_cast<T*>(LookupHandle(handle));
}
// Unregisters, closes and destroys the object; false with ERROR_INVALID_HANDLE
// when handle is not live, or with the host's error when closing failed.
bool ReleaseHandle(HANDLE handle);

}  // namespace w32
