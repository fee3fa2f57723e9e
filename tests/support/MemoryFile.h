// A CFile over a byte vector, for tests: reads short at the end with "EOF"
// when no count is asked for, grows on writes, and can be told to fail.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "file/File.h"

class MemoryFile : public CFile {
public:
    explicit MemoryFile(std::vector<uint8_t> bytes = {}) : data(std::move(bytes)) { isOpen = true; }

    ErrorCode Read(void* buffer, uint32_t size, uint32_t* bytesRead) override {
        ++readCalls;
        if (failReadAfter >= 0 && readCalls > failReadAfter) return ERR_READFAIL;
        uint32_t available = position < data.size() ? uint32_t(data.size() - position) : 0;
        uint32_t n = size < available ? size : available;
        if (n) std::memcpy(buffer, data.data() + position, n);
        position += n;
        if (bytesRead) *bytesRead = n;
        return n < size ? ERR_EOF : nullptr;
    }

    ErrorCode Write(const void* buffer, uint32_t size, uint32_t* bytesWritten) override {
        ++writeCalls;
        if (failWriteAfter >= 0 && writeCalls > failWriteAfter) return ERR_WRITEFAIL;
        if (size && position + size > data.size()) data.resize(size_t(position) + size);
        if (size) std::memcpy(data.data() + position, buffer, size);
        position += size;
        if (bytesWritten) *bytesWritten = size;
        return nullptr;
    }

    ErrorCode Seek(int32_t offset, int16_t origin) override {
        int64_t from = origin == ORIGIN_BEGIN ? 0 : origin == ORIGIN_CURRENT ? position : int64_t(data.size());
        int64_t to = from + offset;
        if (to < 0 || to > int64_t(UINT32_MAX)) return ERR_SEEKFAIL;
        position = uint32_t(to);
        return nullptr;
    }

    uint32_t GetSize() override { return uint32_t(data.size()); }
    uint32_t Tell() override { return position; }

    ErrorCode Truncate() override {
        data.resize(position);
        return nullptr;
    }

    std::vector<uint8_t> data;
    uint32_t position = 0;
    int readCalls = 0;
    int writeCalls = 0;
    int failReadAfter = -1;   // the read calls after this many fail
    int failWriteAfter = -1;  // the write calls after this many fail
};
