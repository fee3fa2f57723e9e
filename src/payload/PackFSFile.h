// CPackFSFile: one entry of a pack file, a read-only window onto the pack's
// bytes. It reads through absolute positions of the pack file, which it does
// not own, so entry files over one pack can be read in any interleaving.
#pragma once

#include <cstdint>

#include "file/File.h"

class CPackFSFile : public CFile {
public:
    CPackFSFile(CFile* pack, uint32_t start, uint32_t size);

    // At or past the end: "EOF", even with a count.
    ErrorCode Read(void* buffer, uint32_t size, uint32_t* bytesRead) override;
    ErrorCode Write(const void* buffer, uint32_t size, uint32_t* bytesWritten) override;
    // A result below 0 is refused with "\"Unknown error\"".
    ErrorCode Seek(int32_t offset, int16_t origin) override;
    uint32_t GetSize() override;
    uint32_t Tell() override;
    ErrorCode Flush() override;
    ErrorCode Truncate() override;

    uint32_t start;
    uint32_t size;
    uint32_t position = 0;
};
