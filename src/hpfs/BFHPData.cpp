// CBFHP: reading and writing a handle's data, one file operation per run of
// consecutive data blocks.
#include "hpfs/BFHP.h"

#include <cstring>

ErrorCode CBFHP::Read(PoolHandle handle, void* buffer, uint32_t offset, uint32_t length) {
    return Transfer(handle, static_cast<uint8_t*>(buffer), offset, length, false);
}

// Bytes past the end of the file read as zeros only in blocks taken from the
// end since Attach (allocated, not yet written); in any other block they are
// missing: the file was cut short.
ErrorCode CBFHP::MoveRun(uint8_t* buffer, uint32_t position, uint32_t length, bool write) {
    if (write) return file->WriteAt(buffer, position, length, nullptr);
    uint64_t present = position < fileBytes ? fileBytes - position : 0;
    if (present > length) present = length;
    if (present < length && fileBytes < uint64_t(freshFrom) * blockSize) return ERR_EOF;
    if (present)
        if (ErrorCode error = file->ReadAt(buffer, position, uint32_t(present), nullptr)) return error;
    if (present < length) std::memset(buffer + present, 0, length - present);
    return nullptr;
}

ErrorCode CBFHP::Transfer(PoolHandle handle, uint8_t* buffer, uint32_t offset, uint32_t length, bool write) {
    if (ErrorCode error = LoadHead(handle)) return lastError = error;
    const uint32_t size = HeadSize();
    if (offset >= size) return ERR_BADPARAMS;
    if (length > size - offset) length = size - offset;
    if (!write) fileBytes = file->GetSize();

    uint32_t block;
    if (ErrorCode error = Locate(offset, &block)) return lastError = error;
    uint32_t runPosition = block * blockSize + offset % blockSize;
    uint32_t runLast = block;
    uint64_t runLength = blockSize - offset % blockSize;

    // The run covers runLength bytes from runPosition, ending with block
    // runLast; length counts the bytes not yet moved, run included.
    while (length > runLength) {
        uint32_t next;
        if (ErrorCode error = Advance(&next)) return lastError = error;
        if (next == runLast + 1) {
            runLength += blockSize;
        } else {
            if (ErrorCode error = MoveRun(buffer, runPosition, uint32_t(runLength), write)) return lastError = error;
            buffer += runLength;
            length -= uint32_t(runLength);
            runPosition = next * blockSize;
            runLength = blockSize;
        }
        runLast = next;
    }
    return lastError = MoveRun(buffer, runPosition, length, write);
}
