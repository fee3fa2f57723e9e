#include "hpfs/HPFile.h"

static const char kHPFileName[] = "CHPFile";
const char* const CHPFile::className = kHPFileName;

CHPFile::CHPFile(CHandlePool* handlePool, PoolHandle contentHandle, uint16_t openMode)
    : CFile(nullptr, false), pool(handlePool), handle(contentHandle), size(handlePool->Size(contentHandle)) {
    mode = openMode;
    isOpen = true;
}

CHPFile::~CHPFile() = default;

const char* CHPFile::GetClassName() const { return className; }

CObject* CHPFile::IsKindOf(const char* name) {
    if (name == className) return this;
    return CFile::IsKindOf(name);
}

ErrorCode CHPFile::Read(void* buffer, uint32_t length, uint32_t* bytesRead) {
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
    uint64_t end = uint64_t(position) + length;
    if (end > UINT32_MAX) {
        if (bytesWritten) *bytesWritten = 0;
        return ERR_UNKNOWN;  // past the 4 GiB a file can hold
    }
    if (end > size) {
        PoolHandle grown = pool->Realloc(handle, uint32_t(end));
        if (!grown) {
            if (bytesWritten) *bytesWritten = 0;
            ErrorCode error = pool->LastError();
            return error ? error : ERR_UNKNOWN;
        }
        handle = grown;
        size = pool->Size(handle);
    }
    if (ErrorCode error = pool->Write(handle, buffer, position, length)) {
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
        case ORIGIN_END: position = size + uint32_t(offset); break;
        default: break;
    }
    return nullptr;
}

uint32_t CHPFile::GetSize() { return size; }
uint32_t CHPFile::Tell() { return position; }

ErrorCode CHPFile::Flush() {
    pool->Flush();
    return ERR_NOTIMPLEMENTED;
}

ErrorCode CHPFile::Truncate() {
    PoolHandle resized = pool->Realloc(handle, position);
    if (!resized) return ERR_UNKNOWN;
    handle = resized;
    size = position;
    return nullptr;
}
