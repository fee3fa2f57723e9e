// A CFile over bytes in memory, read and written as a disk file is: a read
// that meets the end delivers what there is and says "EOF" (with or without
// a count); a seek moves anywhere from 0 to 4 GiB - 1, past the end too, and
// refuses without moving anything else; a write past the end fills the gap
// with zeros (a write of no bytes changes nothing); Truncate cuts the bytes
// at the position, or fills with zeros up to it.
#pragma once

#include "file/File.h"

#include <cstdint>
#include <cstring>
#include <vector>

class CVectorFile : public CFile {
    std::vector<uint8_t> own_;

public:
    explicit CVectorFile(std::vector<uint8_t> bytes = {}) : own_(std::move(bytes)), data(own_) { isOpen = true; }
    // Over bytes the caller keeps: they outlive the file, for a pool that
    // takes the file over and destroys it.
    explicit CVectorFile(std::vector<uint8_t>* outside) : data(*outside) { isOpen = true; }
    CVectorFile(const CVectorFile&) = delete;
    CVectorFile& operator=(const CVectorFile&) = delete;

    ErrorCode Read(void* buffer, uint32_t size, uint32_t* bytesRead) override
    {
        const uint32_t available = position < data.size() ? static_cast<uint32_t>(data.size() - position) : 0;
        const uint32_t n = size < available ? size : available;
        if (n != 0)
            std::memcpy(buffer, data.data() + position, n);
        position += n;
        if (bytesRead != nullptr)
            *bytesRead = n;
        return n < size ? ERR_EOF : nullptr;
    }

    ErrorCode Write(const void* buffer, uint32_t size, uint32_t* bytesWritten) override
    {
        if (bytesWritten != nullptr)
            *bytesWritten = 0;
        if (static_cast<uint64_t>(position) + size > 0xFFFFFFFFull)
            return ERR_WRITEFAIL;
        if (size != 0 && position + size > data.size())
            data.resize(static_cast<size_t>(position) + size);
        if (size != 0)
            std::memcpy(data.data() + position, buffer, size);
        position += size;
        if (bytesWritten != nullptr)
            *bytesWritten = size;
        return nullptr;
    }

    ErrorCode Seek(int32_t offset, int16_t origin) override
    {
        if (origin != ORIGIN_BEGIN && origin != ORIGIN_CURRENT && origin != ORIGIN_END)
            return ERR_SEEKFAIL;
        const int64_t from = origin == ORIGIN_CURRENT ? position
                             : origin == ORIGIN_END   ? static_cast<int64_t>(data.size())
                                                      : 0;
        const int64_t to = from + offset;
        if (to < 0 || to > 0xFFFFFFFFll)
            return ERR_SEEKFAIL;
        position = static_cast<uint32_t>(to);
        return nullptr;
    }

    uint32_t GetSize() override { return static_cast<uint32_t>(data.size()); }
    uint32_t Tell() override { return position; }
    // Nothing is buffered: the bytes are where they are.
    ErrorCode Flush() override { return nullptr; }
    ErrorCode Truncate() override
    {
        data.resize(position);
        return nullptr;
    }

    std::vector<uint8_t>& data;
    uint32_t position = 0;
};
