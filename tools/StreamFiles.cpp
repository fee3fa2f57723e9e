// CHostReadFile and CCrcSinkFile.
#include "StreamFiles.h"

#include "payload/PatchCrc.h"

#include <sys/types.h>

namespace {

// Positions past 2 GiB, on 32-bit builds too.
int SeekHostFile(std::FILE* file, int64_t position, int origin)
{
#ifdef _WIN32
    return _fseeki64(file, position, origin);
#else
    return fseeko(file, static_cast<off_t>(position), origin);
#endif
}

int64_t Position(std::FILE* file)
{
#ifdef _WIN32
    return _ftelli64(file);
#else
    return static_cast<int64_t>(ftello(file));
#endif
}

} // namespace

CHostReadFile::CHostReadFile(const std::string& path) : file_(std::fopen(path.c_str(), "rb"))
{
    if (file_ == nullptr || SeekHostFile(file_, 0, SEEK_END) != 0)
        return;
    const int64_t end = Position(file_);
    if (end < 0 || end > 0xFFFFFFFFll || SeekHostFile(file_, 0, SEEK_SET) != 0)
        return;
    size_ = static_cast<uint32_t>(end);
    isOpen = true;
}

CHostReadFile::~CHostReadFile()
{
    if (file_ != nullptr)
        std::fclose(file_);
}

ErrorCode CHostReadFile::Read(void* buffer, uint32_t size, uint32_t* bytesRead)
{
    const uint32_t available = position_ < size_ ? size_ - position_ : 0;
    const uint32_t wanted = size < available ? size : available;
    const size_t got = wanted ? std::fread(buffer, 1, wanted, file_) : 0;
    position_ += static_cast<uint32_t>(got);
    if (bytesRead != nullptr)
        *bytesRead = static_cast<uint32_t>(got);
    if (got < wanted)
        return ERR_READFAIL;
    return got < size && bytesRead == nullptr ? ERR_EOF : nullptr;
}

ErrorCode CHostReadFile::Seek(int32_t offset, int16_t origin)
{
    const int64_t from = origin == ORIGIN_CURRENT ? position_ : origin == ORIGIN_END ? int64_t(size_) : 0;
    const int64_t to = from + offset;
    if (to < 0 || to > 0xFFFFFFFFll || SeekHostFile(file_, to, SEEK_SET) != 0)
        return ERR_SEEKFAIL;
    position_ = static_cast<uint32_t>(to);
    return nullptr;
}

ErrorCode CCrcSinkFile::Write(const void* buffer, uint32_t length, uint32_t* bytesWritten)
{
    crc = Crc32Update(crc, buffer, length);
    size += length;
    if (bytesWritten != nullptr)
        *bytesWritten = length;
    return nullptr;
}
