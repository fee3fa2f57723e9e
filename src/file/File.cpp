#include "file/File.h"

#include "pools/DefaultPools.h"

static const char kFileName[] = "CFile";
const char* const CFile::className = kFileName;

CFile::CFile(CFile* baseFile, bool owns) : base(baseFile), ownsBase(owns) {}

CFile::~CFile() {
    if (ownsBase && base) delete base;
}

const char* CFile::GetClassName() const { return className; }

CObject* CFile::IsKindOf(const char* name) {
    if (name == className) return this;
    return CObject::IsKindOf(name);
}

uint32_t ClampedSeekTarget(uint32_t position, uint32_t size, int32_t offset, int16_t origin) {
    int64_t target;
    switch (origin) {
    case ORIGIN_BEGIN: target = offset; break;
    case ORIGIN_CURRENT: target = int64_t(position) + offset; break;
    case ORIGIN_END: target = int64_t(size) + offset; break;
    default: return position;
    }
    if (target < 0) return 0;
    return target > 0xFFFFFFFF ? 0xFFFFFFFFu : uint32_t(target);
}

// An operation a class does not provide fails: a read-only file that is
// written, or a file class that forgets Flush, must not report success.
ErrorCode CFile::Read(void*, uint32_t, uint32_t*) { return ERR_NOTIMPLEMENTED; }

ErrorCode CFile::ReadAt(void* buffer, uint32_t position, uint32_t size, uint32_t* bytesRead) {
    if (ErrorCode error = SeekTo(position)) return error;
    return Read(buffer, size, bytesRead);
}

ErrorCode CFile::Write(const void*, uint32_t, uint32_t*) { return ERR_NOTIMPLEMENTED; }

ErrorCode CFile::WriteAt(const void* buffer, uint32_t position, uint32_t size, uint32_t* bytesWritten) {
    if (ErrorCode error = SeekTo(position)) return error;
    return Write(buffer, size, bytesWritten);
}

ErrorCode CFile::Seek(int32_t, int16_t) { return ERR_NOTIMPLEMENTED; }

ErrorCode CFile::SeekTo(uint32_t position) {
    constexpr uint32_t kLongestStep = 0x7FFFFFFF;
    uint32_t step = position < kLongestStep ? position : kLongestStep;
    if (ErrorCode error = Seek(int32_t(step), ORIGIN_BEGIN)) return error;
    // At most two more steps: 4 GiB - 1 is 0x7FFFFFFF twice and 1.
    for (uint32_t rest = position - step; rest != 0; rest -= step) {
        step = rest < kLongestStep ? rest : kLongestStep;
        if (ErrorCode error = Seek(int32_t(step), ORIGIN_CURRENT)) return error;
    }
    return nullptr;
}
uint32_t CFile::GetSize() { return 0; }
uint32_t CFile::Tell() { return 0; }
ErrorCode CFile::Flush() { return ERR_NOTIMPLEMENTED; }
ErrorCode CFile::Truncate() { return ERR_NOTIMPLEMENTED; }

ErrorCode CFile::CopyRange(uint32_t destination, uint32_t source, uint32_t length, uint32_t chunkSize,
                           void* buffer) {
    uint32_t size = GetSize();
    if (source > size) return nullptr;
    if (length > size - source) length = size - source;
    if (length == 0) return nullptr;
    if (chunkSize == 0) return ERR_UNKNOWN;  // no progress could ever be made

    void* owned = nullptr;
    if (!buffer) {
        owned = g_pDefaultPtrPool->Alloc(chunkSize);
        if (!owned) return ERR_NOTENOUGHMEM;
        buffer = owned;
    }

    // When the destination lies after the source the copy runs backwards, so
    // an overlapping source is read before it is overwritten.
    const bool backwards = source < destination;
    if (backwards) {
        source += length;
        destination += length;
    }
    ErrorCode error = nullptr;
    while (length != 0 && !error) {
        uint32_t n = chunkSize < length ? chunkSize : length;
        if (backwards) {
            source -= n;
            destination -= n;
        }
        error = ReadAt(buffer, source, n, nullptr);
        if (!error) error = WriteAt(buffer, destination, n, nullptr);
        if (!backwards) {
            source += n;
            destination += n;
        }
        length -= n;
    }
    if (owned) g_pDefaultPtrPool->Free(owned);
    return error;
}

ErrorCode CFile::LoadRange(uint32_t position, uint32_t size, void** data) {
    *data = g_pDefaultPtrPool->Alloc(size);
    if (!*data) return ERR_NOTENOUGHMEM;
    if (ErrorCode error = ReadAt(*data, position, size, nullptr)) {
        g_pDefaultPtrPool->Free(*data);
        *data = nullptr;
        return error;
    }
    ++loadCount;
    return nullptr;
}

ErrorCode CFile::FreeRange(void* data) {
    g_pDefaultPtrPool->Free(data);
    --loadCount;
    return nullptr;
}

uint32_t CFile::Reserved1() { return 0; }
uint32_t CFile::Reserved2() { return 0; }
ErrorCode CFile::GetProperty(uint32_t, void*, uint32_t) { return ERR_UNKNOWNPID; }
ErrorCode CFile::SetProperty(uint32_t, void*, uint32_t) { return ERR_UNKNOWNPID; }

ErrorCode ReadExactly(CFile* file, uint32_t position, void* buffer, uint32_t size) {
    if (size == 0) return nullptr;  // (a pack entry reports "EOF" at its end even for no bytes)
    uint32_t got = 0;
    if (ErrorCode error = file->ReadAt(buffer, position, size, &got)) return error;
    return got == size ? nullptr : ERR_EOF;
}
