#include "payload/LzssWriter.h"

#include "framework/LittleEndian.h"

#include <cstring>

#include "payload/LzssFormat.h"
#include "pools/DefaultPools.h"

namespace {

ErrorCode CheckParameters(uint32_t blockSize, uint8_t bitLengths) {
    if (blockSize == 0 || blockSize > kLzssMaxBlockSize) return ERR_BADPARAMS;
    if (!LzssBitLengthsSupported(bitLengths)) return ERR_NOSUCHBITLENGTHS;
    return nullptr;
}

void FillHeader(uint8_t* header, uint32_t size, uint32_t blockSize, uint8_t bitLengths) {
    std::memcpy(header, kLzssMagic, 4);
    StoreU32(header + 4, size);
    StoreU32(header + 8, blockSize);
    header[12] = bitLengths;
    header[13] = 0;
}

ErrorCode EndAt(CFile* target, uint32_t end) {
    if (ErrorCode error = target->SeekTo(end)) return error;
    return target->Truncate();
}

}  // namespace

ErrorCode CreateLzssContainer(CFile* target, uint32_t blockSize, uint8_t bitLengths) {
    if (ErrorCode error = CheckParameters(blockSize, bitLengths)) return error;
    uint8_t bytes[kLzssHeaderSize + 4];
    FillHeader(bytes, 0, blockSize, bitLengths);
    StoreU32(bytes + kLzssTableOffset, uint32_t(LzssDataStart(1)));
    if (ErrorCode error = target->WriteAt(bytes, 0, sizeof bytes, nullptr)) return error;
    return EndAt(target, sizeof bytes);
}

ErrorCode CompressLzssImage(const uint8_t* image, uint32_t size, CFile* target, uint32_t blockSize,
                            uint8_t bitLengths, uint32_t* containerSize) {
    if (ErrorCode error = CheckParameters(blockSize, bitLengths)) return error;
    const uint32_t count = LzssBlockCount(size, blockSize);
    if (LzssDataStart(count) > 0xFFFFFFFFu) return ERR_OUTOFRANGE;
    const uint32_t tableBytes = 4 * count;
    const uint32_t capacity = uint32_t(LzssWorkBufferSize(blockSize));
    auto* table = static_cast<uint8_t*>(g_pDefaultPtrPool->Alloc(kLzssHeaderSize + tableBytes));
    auto* packed = static_cast<uint8_t*>(g_pDefaultPtrPool->Alloc(capacity));
    ErrorCode error = (table && packed) ? nullptr : ERR_NOTENOUGHMEM;

    uint64_t at = LzssDataStart(count);
    for (uint32_t k = 0; k < count && !error; ++k) {
        if (at > 0xFFFFFFFFu) {
            error = ERR_OUTOFRANGE;
            break;
        }
        StoreU32(table + kLzssTableOffset + 4 * k, uint32_t(at));
        const uint32_t length = LzssBlockLength(size, blockSize, k);
        const uint8_t* block = image + uint64_t(k) * blockSize;
        uint32_t packedLength = capacity;
        const bool compressed = !EncodeBlock(block, length, packed, &packedLength, bitLengths, nullptr) &&
                                packedLength < length;
        const uint8_t* stored = compressed ? packed : block;
        const uint32_t storedLength = compressed ? packedLength : length;
        if (at + storedLength > 0xFFFFFFFFu) error = ERR_OUTOFRANGE;
        else error = target->WriteAt(stored, uint32_t(at), storedLength, nullptr);
        at += storedLength;
    }
    if (!error) {
        FillHeader(table, size, blockSize, bitLengths);
        error = target->WriteAt(table, 0, kLzssHeaderSize + tableBytes, nullptr);
    }
    if (!error) error = EndAt(target, uint32_t(at));
    if (!error && containerSize) *containerSize = uint32_t(at);
    g_pDefaultPtrPool->Free(table);
    g_pDefaultPtrPool->Free(packed);
    return error;
}
