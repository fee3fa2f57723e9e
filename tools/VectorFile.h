// A CFile over a std::vector, for writing a container in memory.
#pragma once

#include "file/File.h"

#include <cstdint>
#include <vector>

class CVectorFile : public CFile {
public:
    CVectorFile() { isOpen = true; }

    ErrorCode Read(void* buffer, uint32_t size, uint32_t* bytesRead) override;
    ErrorCode Write(const void* buffer, uint32_t size, uint32_t* bytesWritten) override;
    ErrorCode Seek(int32_t offset, int16_t origin) override;
    uint32_t GetSize() override { return static_cast<uint32_t>(bytes.size()); }
    uint32_t Tell() override { return position; }
    ErrorCode Flush() override { return nullptr; }
    ErrorCode Truncate() override;

    std::vector<uint8_t> bytes;
    uint32_t position = 0;
};
