#include "platform/DiskFile.h"

#include "platform/PlatformError.h"
#include "platform/Win32.h"

CDiskFile::CDiskFile(void* fileHandle, uint32_t openMode) : CFile(nullptr, false), handle(fileHandle) {
    mode = uint16_t(openMode);
    isOpen = true;
}

CDiskFile::~CDiskFile() { CloseHandle(handle); }

ErrorCode CDiskFile::Read(void* buffer, uint32_t size, uint32_t* bytesRead) {
    DWORD count = 0;
    BOOL ok = ReadFile(handle, buffer, size, &count, nullptr);
    if (bytesRead) *bytesRead = count;
    if (!ok) return LastPlatformFailure(ERR_READFAIL);
    return count == size ? nullptr : ERR_EOF;
}

ErrorCode CDiskFile::Write(const void* buffer, uint32_t size, uint32_t* bytesWritten) {
    DWORD count = 0;
    BOOL ok = WriteFile(handle, buffer, size, &count, nullptr);
    if (bytesWritten) *bytesWritten = count;
    if (!ok) return LastPlatformFailure(ERR_WRITEFAIL);
    // The platform may call a partial write a success; the data is lost all
    // the same.
    return count == size ? nullptr : ERR_WRITEFAIL;
}

ErrorCode CDiskFile::Seek(int32_t offset, int16_t origin) {
    // Other origins reach the platform unchanged, which refuses them.
    DWORD method = origin == ORIGIN_BEGIN     ? FILE_BEGIN
                   : origin == ORIGIN_CURRENT ? FILE_CURRENT
                   : origin == ORIGIN_END     ? FILE_END
                                              : DWORD(origin);
    // 0xFFFFFFFF is also a valid position, told apart by a last error of 0;
    // clear it first so that an earlier failure cannot leak in.
    SetLastError(ERROR_SUCCESS);
    // No high word: the platform then refuses, without moving, a position at
    // or past 4 GiB, which no 32-bit position could name.
    if (SetFilePointer(handle, LONG(offset), nullptr, method) != INVALID_SET_FILE_POINTER) return nullptr;
    return MapPlatformError(GetLastError(), ERR_SEEKFAIL);
}

uint32_t CDiskFile::GetSize() {
    // Without the high word a file of 4 GiB or more would pass for its low
    // 32 bits, a small file whose reads then return other bytes.
    DWORD high = 0;
    DWORD low = GetFileSize(handle, &high);
    return high == 0 ? low : INVALID_FILE_SIZE;
}

uint32_t CDiskFile::Tell() { return SetFilePointer(handle, 0, nullptr, FILE_CURRENT); }

ErrorCode CDiskFile::Flush() { return FlushFileBuffers(handle) ? nullptr : LastPlatformFailure(ERR_FLUSHFAIL); }

ErrorCode CDiskFile::Truncate() { return SetEndOfFile(handle) ? nullptr : LastPlatformFailure(ERR_TRUNCFAIL); }

ErrorCode CDiskFile::GetProperty(uint32_t id, void* value, uint32_t) {
    if (id != PID_NATIVE_HANDLE) return ERR_UNKNOWNPID;
    if (!value) return ERR_BADPARAMS;
    *static_cast<void**>(value) = handle;
    return nullptr;
}
