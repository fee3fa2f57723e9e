// CVectorFile: reads stop short at the end ("EOF" without a count asked
// for), writes grow the vector, Truncate cuts it at the position.
#include "VectorFile.h"

#include <cstring>

ErrorCode CVectorFile::Read(void* buffer, uint32_t size, uint32_t* bytesRead)
{
    const uint32_t available = position < bytes.size() ? static_cast<uint32_t>(bytes.size() - position) : 0;
    const uint32_t n = size < available ? size : available;
    if (n != 0)
        std::memcpy(buffer, bytes.data() + position, n);
    position += n;
    if (bytesRead != nullptr)
        *bytesRead = n;
    return n < size && bytesRead == nullptr ? ERR_EOF : nullptr;
}

ErrorCode CVectorFile::Write(const void* buffer, uint32_t size, uint32_t* bytesWritten)
{
    if (bytesWritten != nullptr)
        *bytesWritten = 0;
    if (static_cast<uint64_t>(position) + size > 0xFFFFFFFFull)
        return ERR_WRITEFAIL;
    if (position + size > bytes.size())
        bytes.resize(static_cast<size_t>(position) + size);
    if (size != 0)
        std::memcpy(bytes.data() + position, buffer, size);
    position += size;
    if (bytesWritten != nullptr)
        *bytesWritten = size;
    return nullptr;
}

ErrorCode CVectorFile::Seek(int32_t offset, int16_t origin)
{
    const int64_t from = origin == ORIGIN_CURRENT ? position : origin == ORIGIN_END ? static_cast<int64_t>(bytes.size()) : 0;
    const int64_t to = from + offset;
    if (to < 0 || to > 0xFFFFFFFFll)
        return ERR_SEEKFAIL;
    position = static_cast<uint32_t>(to);
    return nullptr;
}

ErrorCode CVectorFile::Truncate()
{
    bytes.resize(position);
    return nullptr;
}
