// The power-loss model behind W32_FAULT_POWER (the model itself is stated
// at the top of power_cut.cpp). The file calls report to it what they change;
// it does nothing, and costs nothing, while the variable is not set.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "win32/base.h"

namespace w32 {

// Whether W32_FAULT_POWER is set.
bool PowerModelOn();
// Forgets the model's state and reads the variable again at next use.
void ReloadPowerModel();

// Held by a file call across its host calls and its reports, so that a cut
// on another thread finds the call done or not begun. Locks nothing while
// the model is off.
class PowerCall {
public:
    PowerCall();
    PowerCall(const PowerCall&) = delete;
    PowerCall& operator=(const PowerCall&) = delete;
    explicit operator bool() const { return lock_.owns_lock(); }

private:
    std::unique_lock<std::recursive_mutex> lock_;
};

// A durability event (a flush, a move, the close of a written file) begins:
// at the n-th the power goes, and this does not return.
void PowerEvent();

// Bytes [offset, offset + length) written through fd to the file (device,
// inode) at hostPath; not on disk until that file or its volume is flushed.
void PowerNoteWrite(int fd, dev_t device, ino_t inode, const std::string& hostPath, int64_t offset, uint64_t length);
// FlushFileBuffers of that file returned: its bytes are on disk, and so is
// every change of names on its volume made so far.
void PowerNoteFileFlushed(dev_t device, ino_t inode, const std::string& hostPath);
// FlushFileBuffers of volume letter returned: everything on it is on disk.
void PowerNoteVolumeFlushed(char letter);

// What a name held before a change, for undoing the change at the cut.
struct PowerKept {
    bool existed = false;
    std::string bytes;
    mode_t mode = 0;
    DWORD dosAttributes = 0;
};
// The file at hostPath as it is now, when the model may have to put it back.
PowerKept PowerKeep(const std::string& hostPath);

// Changes of names and attributes, in the order they were made.
void PowerNoteCreated(const std::string& hostPath);
void PowerNoteMoved(const std::string& from, const std::string& to, PowerKept replaced, bool writeThrough);
void PowerNoteDeleted(const std::string& hostPath, PowerKept deleted);
void PowerNoteAttributes(const std::string& hostPath, PowerKept before);
void PowerNoteFolder(const std::string& hostPath, bool made);

// The drive ('A' to 'Z') whose mapped folder holds hostPath, links followed;
// 0 for a path on no drive.
char DriveOfHostPath(const std::string& hostPath);

}  // namespace w32
