#include "payload/PackFSFile.h"

CPackFSFile::CPackFSFile(CFile* pack, uint32_t entryStart, uint32_t entrySize)
    : CFile(pack, false), start(entryStart), size(entrySize) {
    isOpen = true;
}

ErrorCode CPackFSFile::Read(void* buffer, uint32_t n, uint32_t* got) {
    if (got) *got = 0;
    if (position >= size) return ERR_EOF;
    if (uint64_t(position) + n > size) {
        if (!got) return ERR_EOF;
        n = size - position;
    }
    // An entry that claims to run past 4 GiB of pack ends there.
    if (uint64_t(start) + position + n > 0xFFFFFFFFu) return ERR_EOF;
    if (ErrorCode error = base->ReadAt(buffer, start + position, n, nullptr)) return error;
    position += n;
    if (got) *got = n;
    return nullptr;
}

ErrorCode CPackFSFile::Write(const void*, uint32_t, uint32_t*) { return ERR_NOTIMPLEMENTED; }

ErrorCode CPackFSFile::Seek(int32_t offset, int16_t origin) {
    int64_t from = origin == ORIGIN_CURRENT ? position : origin == ORIGIN_END ? size : 0;
    int64_t target = from + offset;
    if (target < 0) return ERR_UNKNOWN;
    // Past 4 GiB cannot be a position of an entry; it stays at the last one.
    position = target > 0xFFFFFFFF ? 0xFFFFFFFFu : uint32_t(target);
    return nullptr;
}

uint32_t CPackFSFile::GetSize() { return size; }
uint32_t CPackFSFile::Tell() { return position; }
ErrorCode CPackFSFile::Flush() { return base->Flush(); }
ErrorCode CPackFSFile::Truncate() { return ERR_NOTIMPLEMENTED; }
