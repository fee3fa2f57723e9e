// The W32_FAULT_* injection rules (see win32/hostio.h).
#pragma once

#include <cstdint>
#include <string>

#include "win32/base.h"

namespace w32 {

// The Win32 error CreateFileA of hostPath is to fail with, or 0 to open
// normally. Counts the hit.
DWORD TakeOpenFault(const std::string& hostPath);

struct WriteFault {
    bool active = false;
    uint64_t budget = 0;  // bytes the handle may still write
    DWORD error = 0;      // ERROR_DISK_FULL or ERROR_WRITE_FAULT
    bool kill = false;    // the write that crosses the limit ends the process instead
};

// The write limit of a handle just opened on hostPath. Counts the hit.
WriteFault TakeWriteFault(const std::string& hostPath);

// The Win32 error MoveFileExA to hostPath is to fail with, or 0 to move
// normally. Counts the hit. A kill rule ends the process here, before the
// move.
DWORD TakeMoveFault(const std::string& hostPath);

// The Win32 error FlushFileBuffers of a handle on hostPath is to fail with
// (a write the disk refused late), or 0 to flush normally. Counts the hit.
// *killAfter tells a kill rule: the flush is done, then the process ends.
DWORD TakeFlushFault(const std::string& hostPath, bool* killAfter);

// Whether CreateThread is to fail.
bool TakeThreadFault();

// Whether DialogBoxParamA is to fail before the dialog appears.
bool TakeDialogFault();

// The Win32 error CreateMutexA of a named mutex is to fail with, or 0.
DWORD TakeMutexFault();

// The Win32 error a registry call is to fail with, or 0: call is "open"
// (RegOpenKeyExA asking to write) or "set" (RegSetValueExA). Counts the hit.
DWORD TakeRegistryFault(const char* call);

// Ends the process at once, as a kill from outside would: no exit handlers,
// no buffers flushed.
[[noreturn]] void KillProcessNow();

}  // namespace w32
