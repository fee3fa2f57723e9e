// CDiskFile: a CFile over an open file of the platform's file system. It has
// no class name of its own (it answers "CFile") and owns its handle.
#pragma once

#include <cstdint>

#include "file/File.h"

class CDiskFile : public CFile {
public:
    // Takes over handle (a platform file handle, as CreateFileA returns it);
    // mode keeps the low 16 bits of the open-mode flags. Open at once.
    CDiskFile(void* handle, uint32_t mode);
    // Closes the handle.
    ~CDiskFile() override;

    // A read that delivers fewer bytes than asked is "EOF".
    ErrorCode Read(void* buffer, uint32_t size, uint32_t* bytesRead) override;
    // A write that stores fewer bytes than asked is a failure.
    ErrorCode Write(const void* buffer, uint32_t size, uint32_t* bytesWritten) override;
    ErrorCode Seek(int32_t offset, int16_t origin) override;
    // 0xFFFFFFFF when the platform fails or the file has 4 GiB or more.
    uint32_t GetSize() override;
    uint32_t Tell() override;
    ErrorCode Flush() override;
    ErrorCode Truncate() override;  // ends the file at the current position
    // PID_NATIVE_HANDLE writes the handle through value (a void**).
    ErrorCode GetProperty(uint32_t id, void* value, uint32_t extra) override;

    void* handle;
};
