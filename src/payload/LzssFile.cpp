#include "payload/LzssFile.h"

#include "framework/LittleEndian.h"

#include <cstring>

#include "pools/DefaultPools.h"

// The class name is the first entry of the class's error group.
const char* const CLzssFile::className = ERR_CLZSSFILE;

namespace {

constexpr uint32_t kSmallestDataStart = kLzssTableOffset + 4;

}  // namespace

CLzssFile::CLzssFile(CFile* baseFile, bool owns) : CFile(baseFile, owns) {
    if (!base) return;
    base->Seek(0, ORIGIN_BEGIN);
    if (ReadExactly(base, 0, header, kLzssHeaderSize)) return;
    if (std::memcmp(header, kLzssMagic, 4) != 0) return;
    size = LoadU32(header + 4);
    blockSize = LoadU32(header + 8);
    // A block size of 0 cannot divide the contents; an absurd one is a damaged header.
    if (blockSize == 0 || blockSize > kLzssMaxBlockSize) return;
    const uint32_t count = LzssBlockCount(size, blockSize);
    const uint32_t baseSize = base->GetSize();
    // A table that cannot lie inside the base would fail to read anyway;
    // refusing it first spares allocating whatever the header claims.
    if (LzssDataStart(count) > baseSize) return;

    workSize = uint32_t(LzssWorkBufferSize(blockSize));
    work = static_cast<uint8_t*>(g_pDefaultPtrPool->Alloc(workSize));
    if (!work) return;
    std::memset(work, 0, workSize);
    if (ResizeBlockTable(count)) return;
    if (ReadExactly(base, kLzssTableOffset, table, 4 * count)) return;
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(table);
    for (uint32_t k = 0; k < count; ++k) {
        uint32_t value = LoadU32(bytes + 4 * k);
        table[k] = value;
    }
    table[count] = baseSize;
    isOpen = true;
}

CLzssFile::~CLzssFile() {
    g_pDefaultPtrPool->Free(table);
    g_pDefaultPtrPool->Free(work);
    g_pDefaultPtrPool->Free(stream);
}

const char* CLzssFile::GetClassName() const { return className; }

CObject* CLzssFile::IsKindOf(const char* name) {
    if (name == className) return this;
    return CFile::IsKindOf(name);
}

ErrorCode CLzssFile::Read(void* buffer, uint32_t n, uint32_t* got) {
    // A container whose header or table could not be read has no contents:
    // its header fields may hold anything, a block size of 0 included.
    if (!isOpen) {
        if (got) *got = 0;
        return ERR_READFAIL;
    }
    if (position > size) {
        if (got) *got = 0;
        return ERR_EOF;
    }
    if (uint64_t(position) + n > size) {
        if (!got) return ERR_EOF;
        n = size - position;
    }
    if (got) *got = 0;
    auto* to = static_cast<uint8_t*>(buffer);
    while (n > 0) {
        const int32_t block = int32_t(position / blockSize);
        const uint32_t offset = position % blockSize;
        if (block != currentBlock) {
            if (ErrorCode error = LoadBlock(block, true)) return error;
        }
        uint32_t chunk = blockSize - offset < n ? blockSize - offset : n;
        std::memcpy(to, work + offset, chunk);
        to += chunk;
        position += chunk;
        n -= chunk;
        if (got) *got += chunk;
    }
    return nullptr;
}

ErrorCode CLzssFile::Seek(int32_t offset, int16_t origin) {
    position = ClampedSeekTarget(position, GetSize(), offset, origin);
    return nullptr;
}

uint32_t CLzssFile::GetSize() { return isOpen ? size : 0; }
uint32_t CLzssFile::Tell() { return position; }
ErrorCode CLzssFile::Truncate() { return SetSize(position); }
ErrorCode CLzssFile::SetSize(uint32_t) { return ERR_NOTIMPLEMENTED; }

ErrorCode CLzssFile::Write(const void*, uint32_t, uint32_t* put) {
    if (put) *put = 0;
    return ERR_NOTIMPLEMENTED;
}
ErrorCode CLzssFile::WriteBack() { return ERR_NOTIMPLEMENTED; }
ErrorCode CLzssFile::ResizeBlockTable(uint32_t count) {
    if (count == blockCount && table) return nullptr;
    if (count >= 0x3FFFFFF0u) return ERR_NOTENOUGHMEM;  // the table's bytes would pass 4 GiB
    const uint32_t capacity = (count / 16 + 1) * 16;
    if (capacity != tableCapacity) {
        void* grown = table ? g_pDefaultPtrPool->Realloc(table, capacity * 4) : g_pDefaultPtrPool->Alloc(capacity * 4);
        if (!grown) return ERR_NOTENOUGHMEM;
        table = static_cast<uint32_t*>(grown);
        tableCapacity = capacity;
    }
    if (blockCount == 0) table[0] = kSmallestDataStart;
    for (uint32_t k = blockCount; k < count; ++k) table[k + 1] = table[k];  // new blocks: stored length 0
    blockCount = count;
    return nullptr;
}

ErrorCode CLzssFile::LoadBlock(int32_t index, bool readContents) {
    if (index < -1 || index >= int32_t(blockCount) || (readContents && index < 0)) return ERR_INDEXOUTOFRANGE;
    if (currentBlock >= 0 && blockDirty) {
        if (ErrorCode error = WriteBack()) return error;
    }
    if (readContents) {
        if (ErrorCode error = ReadBlock(uint32_t(index))) {
            // The work buffer no longer holds the old block either.
            currentBlock = -1;
            return error;
        }
    }
    currentBlock = index;
    return nullptr;
}

bool CLzssFile::SpanValid(uint32_t index) const {
    return table[index] >= kSmallestDataStart && table[index] <= table[index + 1] &&
           table[index + 1] <= table[blockCount];
}

ErrorCode CLzssFile::ReadBlock(uint32_t index) {
    if (!SpanValid(index)) return ERR_INVALIDFORMAT;
    const uint32_t stored = table[index + 1] - table[index];
    const uint32_t length = BlockLength(index);
    uint32_t kept;  // bytes of the block's content; the rest of the block reads as zeros
    if (stored < length) {
        uint32_t produced = 0;
        if (!stream) stream = static_cast<uint8_t*>(g_pDefaultPtrPool->Alloc(workSize));
        if (stored > 0 && stream) {
            // The stream in a buffer of its own, for the faster decoder that
            // scribbles past each token (the tail is cleared below); bytes a
            // skip token passes read as zeros.
            if (ErrorCode error = ReadExactly(base, table[index], stream, stored)) return error;
            produced = blockSize;
            if (ErrorCode error = DecodeBlockScribbling(stream, stored, work, &produced, BitLengths())) return error;
        } else if (stored > 0) {
            // In place, without memory for the stream: the stream at the
            // buffer's end, the output from its start. Bytes a skip token
            // passes read as zeros, not as whatever an earlier block left there.
            uint8_t* in = work + workSize - stored;
            std::memset(work, 0, workSize - stored < blockSize ? workSize - stored : blockSize);
            if (ErrorCode error = ReadExactly(base, table[index], in, stored)) return error;
            produced = blockSize;
            if (ErrorCode error = DecodeBlock(in, stored, work, &produced, BitLengths())) return error;
        }
        kept = produced < length ? produced : length;
    } else {
        if (stored > blockSize) return ERR_INVALIDFORMAT;
        if (ErrorCode error = ReadExactly(base, table[index], work, length)) return error;
        kept = length;
    }
    std::memset(work + kept, 0, blockSize - kept);
    return nullptr;
}
