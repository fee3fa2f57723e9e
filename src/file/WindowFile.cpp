#include "file/WindowFile.h"

CWindowFile::CWindowFile(CFile* baseFile, uint32_t windowStart, uint32_t windowLength, bool owns)
    : CFile(baseFile, owns), start(windowStart), length(windowLength) {
    if (length == kWindowToEnd) {
        // A start past the base's end gives an empty window rather than a
        // length that wrapped round to nearly 4 GiB.
        uint32_t baseSize = base->GetSize();
        length = baseSize > start ? baseSize - start : 0;
    }
    base->Seek(int32_t(start), ORIGIN_BEGIN);
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
        return base->Seek(int32_t(start + uint32_t(offset)), ORIGIN_BEGIN);
    case ORIGIN_CURRENT:
        return base->Seek(offset, ORIGIN_CURRENT);
    case ORIGIN_END:
        return base->Seek(int32_t(start + length - uint32_t(offset)), ORIGIN_BEGIN);
    default:
        return nullptr;
    }
}

uint32_t CWindowFile::GetSize() { return length; }

uint32_t CWindowFile::Tell() { return base->Tell() - start; }

ErrorCode CWindowFile::CopyRange(uint32_t destination, uint32_t source, uint32_t count, uint32_t chunkSize,
                                 void* buffer) {
    return base->CopyRange(start + destination, start + source, count, chunkSize, buffer);
}
