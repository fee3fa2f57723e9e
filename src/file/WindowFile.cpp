#include "file/WindowFile.h"

CWindowFile::CWindowFile(CFile* baseFile, uint32_t windowStart, uint32_t windowLength, bool owns)
    : CFile(baseFile, owns), start(windowStart), length(windowLength) {
    if (length == kWindowToEnd) {
        // A start past the base's end gives an empty window rather than a
        // length that wrapped round to nearly 4 GiB.
        uint32_t baseSize = base->GetSize();
        length = baseSize > start ? baseSize - start : 0;
    }
    base->SeekTo(start);
}

// An absolute base position: below 0 it goes to the base as it is (and is
// the base's to refuse); past 4 GiB no file position exists.
ErrorCode CWindowFile::SeekBase(int64_t target) {
    if (target < 0) return base->Seek(int32_t(target), ORIGIN_BEGIN);
    if (target > int64_t(UINT32_MAX)) return ERR_OUTOFRANGE;
    return base->SeekTo(uint32_t(target));
}

ErrorCode CWindowFile::ReadAt(void* buffer, uint32_t position, uint32_t size, uint32_t* bytesRead) {
    return base->ReadAt(buffer, start + position, size, bytesRead);
}

ErrorCode CWindowFile::WriteAt(const void* buffer, uint32_t position, uint32_t size, uint32_t* bytesWritten) {
    return base->WriteAt(buffer, start + position, size, bytesWritten);
}

ErrorCode CWindowFile::Seek(int32_t offset, int16_t origin) {
    switch (origin) {
    case ORIGIN_BEGIN:
        return SeekBase(int64_t(start) + offset);
    case ORIGIN_CURRENT:
        return base->Seek(offset, ORIGIN_CURRENT);
    case ORIGIN_END:
        return SeekBase(int64_t(start) + length - offset);
    default:
        return nullptr;
    }
}

ErrorCode CWindowFile::Flush() { return base->Flush(); }

ErrorCode CWindowFile::Truncate() { return base->Truncate(); }

uint32_t CWindowFile::GetSize() { return length; }

uint32_t CWindowFile::Tell() { return base->Tell() - start; }

ErrorCode CWindowFile::CopyRange(uint32_t destination, uint32_t source, uint32_t count, uint32_t chunkSize,
                                 void* buffer) {
    return base->CopyRange(start + destination, start + source, count, chunkSize, buffer);
}
