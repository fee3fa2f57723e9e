#include "hpfs/HPFile.h"

#include "hpfs/FileHandlePool.h"

static const char kHPFileName[] = "CHPFile";
const char* const CHPFile::className = kHPFileName;

CHPFile::CHPFile(CHandlePool* handlePool, PoolHandle contentHandle, uint16_t openMode)
    : CFile(nullptr, false), pool(handlePool), handle(contentHandle) {
    mode = openMode;
    isOpen = true;
}

CHPFile::~CHPFile() = default;

const char* CHPFile::GetClassName() const { return className; }

CObject* CHPFile::IsKindOf(const char* name) {
    if (name == className) return this;
    return CFile::IsKindOf(name);
}

ErrorCode CHPFile::CurrentSize(uint32_t* size) {
    if (pool->IsKindOf(CFileHandlePool::className)) return static_cast<CFileHandlePool*>(pool)->SizeOf(handle, size);
    *size = pool->Size(handle);
    return nullptr;
}

ErrorCode CHPFile::Read(void* buffer, uint32_t length, uint32_t* bytesRead) {
    if (bytesRead) *bytesRead = 0;
    uint32_t size;
    if (ErrorCode error = CurrentSize(&size)) return error;
    if (bytesRead) {
        if (position >= size) {
            *bytesRead = 0;
            return nullptr;
        }
        if (length > size - position) length = size - position;
        *bytesRead = length;
    } else if (uint64_t(position) + length > size) {
        return ERR_UNKNOWN;
    }
    if (length == 0) return nullptr;
    if (ErrorCode error = pool->Read(handle, buffer, position, length)) {
        if (bytesRead) *bytesRead = 0;
        return error;
    }
    position += length;
    return nullptr;
}

ErrorCode CHPFile::Write(const void* buffer, uint32_t length, uint32_t* bytesWritten) {
    if (bytesWritten) *bytesWritten = length;
    if (length == 0) return nullptr;
    // 0xFFFFFFFF is the pool's "-1 means 0" size: a file must not reach it.
    uint64_t end = uint64_t(position) + length;
    if (end >= kWholeHandle) {
        if (bytesWritten) *bytesWritten = 0;
        return ERR_SIZEOUTOFRANGE;
    }
    uint32_t size;
    ErrorCode error = CurrentSize(&size);
    if (!error && end > size) {
        PoolHandle grown = pool->Realloc(handle, uint32_t(end));
        if (grown)
            handle = grown;
        else
            error = pool->LastError() ? pool->LastError() : ERR_UNKNOWN;
    }
    if (error) {
        if (bytesWritten) *bytesWritten = 0;
        return error;
    }
    if ((error = pool->Write(handle, buffer, position, length))) {
        if (bytesWritten) *bytesWritten = 0;
        return error;
    }
    position += length;
    return nullptr;
}

ErrorCode CHPFile::Seek(int32_t offset, int16_t origin) {
    switch (origin) {
        case ORIGIN_BEGIN: position = uint32_t(offset); break;
        case ORIGIN_CURRENT: position += uint32_t(offset); break;
        case ORIGIN_END: position = pool->Size(handle) + uint32_t(offset); break;
        default: break;
    }
    return nullptr;
}

uint32_t CHPFile::GetSize() { return pool->Size(handle); }
uint32_t CHPFile::Tell() { return position; }

ErrorCode CHPFile::Flush() {
    pool->Flush();
    return ERR_NOTIMPLEMENTED;
}

ErrorCode CHPFile::Truncate() {
    if (position == kWholeHandle) return ERR_SIZEOUTOFRANGE;
    PoolHandle resized = pool->Realloc(handle, position);
    if (!resized) return ERR_UNKNOWN;
    handle = resized;
    return nullptr;
}
