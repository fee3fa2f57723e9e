// CWritableLzssFile: writing, resizing and flushing of a container. A
// changed block is recompressed and written back, moving the blocks behind
// it as needed, when another block is loaded or the file is flushed.
#include "payload/LzssWritableFile.h"

#include "framework/LittleEndian.h"

#include <cstring>

#include "pools/DefaultPools.h"

static const char kWritableLzssFileName[] = "CWritableLzssFile";
const char* const CWritableLzssFile::className = kWritableLzssFileName;

namespace {

constexpr uint32_t kMoveChunk = 0x8000;
// The whole tail, however long: CopyRange stops at the base's end.
constexpr uint32_t kMoveToEnd = 0xFFFFFFFF;

}  // namespace

CWritableLzssFile::~CWritableLzssFile() {
    if (isOpen) Flush();
}

const char* CWritableLzssFile::GetClassName() const { return className; }

CObject* CWritableLzssFile::IsKindOf(const char* name) {
    if (name == className) return this;
    return CLzssFile::IsKindOf(name);
}

ErrorCode CWritableLzssFile::Write(const void* buffer, uint32_t n, uint32_t* put) {
    if (put) *put = 0;
    if (!isOpen) return ERR_WRITEFAIL;
    if (uint64_t(position) + n > 0xFFFFFFFFu) return ERR_OUTOFRANGE;
    if (position + n > size) {
        if (ErrorCode error = SetSize(position + n)) return error;
    }
    auto* from = static_cast<const uint8_t*>(buffer);
    while (n > 0) {
        const int32_t block = int32_t(position / blockSize);
        const uint32_t offset = position % blockSize;
        if (block != currentBlock) {
            // A block that is overwritten whole is not read first.
            if (ErrorCode error = LoadBlock(block, offset != 0 || n < blockSize)) return error;
        }
        uint32_t chunk = blockSize - offset < n ? blockSize - offset : n;
        std::memcpy(work + offset, from, chunk);
        blockDirty = true;
        from += chunk;
        position += chunk;
        n -= chunk;
        if (put) *put += chunk;
    }
    return nullptr;
}

void CWritableLzssFile::StoreHeaderFields() { StoreU32(header + 4, size); }

ErrorCode CWritableLzssFile::SetSize(uint32_t newSize) {
    if (!isOpen) return ERR_WRITEFAIL;
    if (newSize == size) return nullptr;
    const uint32_t newCount = LzssBlockCount(newSize, blockSize);
    const bool growing = newSize > size;
    // The boundary block changes length and must be rewritten with it; going
    // on without it would leave a raw block that then reads as a stream.
    if (ErrorCode error = LoadBlock(int32_t(growing ? blockCount - 1 : newCount - 1), true)) return error;
    if (ErrorCode error = ResizeBlockTable(newCount)) return error;
    size = newSize;
    StoreHeaderFields();
    blockDirty = true;
    headerDirty = true;
    if (!growing) {
        if (currentBlock >= int32_t(blockCount)) blockDirty = false;
        if (ErrorCode error = base->SeekTo(table[blockCount])) return error;
        return base->Truncate();
    }
    return nullptr;
}

// Moves every stored byte from table[first] to the base's end so that it
// begins at to, and shifts table[first..count] with it.
ErrorCode CWritableLzssFile::MoveBlocks(uint32_t first, uint32_t to) {
    const uint32_t from = table[first];
    if (ErrorCode error = base->CopyRange(to, from, kMoveToEnd, kMoveChunk, nullptr)) return error;
    for (uint32_t k = first; k <= blockCount; ++k) table[k] += to - from;
    headerDirty = true;
    if (to < from) {
        if (ErrorCode error = base->SeekTo(table[blockCount])) return error;
        return base->Truncate();
    }
    return nullptr;
}

ErrorCode CWritableLzssFile::WriteBack() {
    const uint32_t index = uint32_t(currentBlock);
    if (!SpanValid(index)) return ERR_INVALIDFORMAT;
    const uint32_t length = BlockLength(index);
    auto* packed = static_cast<uint8_t*>(g_pDefaultPtrPool->Alloc(workSize));
    if (!packed) return ERR_NOTENOUGHMEM;
    // Whatever the coder reports, a result that is not shorter is stored raw.
    uint32_t packedLength = workSize;
    EncodeBlock(work, length, packed, &packedLength, BitLengths(), nullptr);
    const bool compressed = packedLength < length;
    const uint8_t* stored = compressed ? packed : work;
    const uint32_t storedLength = compressed ? packedLength : length;

    ErrorCode error = nullptr;
    const uint64_t end = uint64_t(table[index]) + storedLength;
    if (end > 0xFFFFFFFFu) error = ERR_OUTOFRANGE;
    else if (uint32_t(end) != table[index + 1]) error = MoveBlocks(index + 1, uint32_t(end));
    if (!error) error = base->WriteAt(stored, table[index], storedLength, nullptr);
    g_pDefaultPtrPool->Free(packed);
    if (!error) blockDirty = false;
    return error;
}

ErrorCode CWritableLzssFile::Flush() {
    if (ErrorCode error = LoadBlock(currentBlock, false)) return error;
    if (!headerDirty) return nullptr;
    const uint64_t dataStart = LzssDataStart(blockCount);
    if (dataStart > 0xFFFFFFFFu) return ERR_OUTOFRANGE;
    if (table[0] != uint32_t(dataStart)) {
        if (ErrorCode error = MoveBlocks(0, uint32_t(dataStart))) return error;
    }
    auto* bytes = static_cast<uint8_t*>(g_pDefaultPtrPool->Alloc(4 * blockCount));
    if (!bytes) return ERR_NOTENOUGHMEM;
    for (uint32_t k = 0; k < blockCount; ++k) StoreU32(bytes + 4 * k, table[k]);
    ErrorCode error = base->WriteAt(header, 0, kLzssHeaderSize, nullptr);
    if (!error) error = base->WriteAt(bytes, kLzssTableOffset, 4 * blockCount, nullptr);
    g_pDefaultPtrPool->Free(bytes);
    if (!error) headerDirty = false;
    return error;
}
