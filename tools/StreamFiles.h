// Files for rebuilding game files in the tool without holding them: a
// read-only CFile over a host file, read where it is asked, and a CFile that
// keeps only the size and CRC-32 of what is written to it.
#pragma once

#include "file/File.h"

#include <cstdint>
#include <cstdio>
#include <string>

class CHostReadFile : public CFile {
public:
    explicit CHostReadFile(const std::string& path);
    ~CHostReadFile() override;
    ErrorCode Read(void* buffer, uint32_t size, uint32_t* bytesRead) override;
    ErrorCode Seek(int32_t offset, int16_t origin) override;
    uint32_t GetSize() override { return size_; }
    uint32_t Tell() override { return position_; }

private:
    std::FILE* file_ = nullptr;
    uint32_t size_ = 0, position_ = 0;
};

class CCrcSinkFile : public CFile {
public:
    CCrcSinkFile() { isOpen = true; }
    ErrorCode Write(const void* buffer, uint32_t size, uint32_t* bytesWritten) override;
    uint32_t GetSize() override { return size; }
    uint32_t Tell() override { return size; }
    ErrorCode Flush() override { return nullptr; }
    uint32_t size = 0;
    uint32_t crc = 0;
};
