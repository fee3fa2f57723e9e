#include "hpfs/BlockFileFormat.h"

void BlockFileHeader::Load(const uint8_t* bytes) {
    magic = LoadU32(bytes + 0);
    blockSize = LoadU32(bytes + 4);
    nextBlock = LoadU32(bytes + 8);
    blockLimit = LoadU32(bytes + 12);
    freeCount = LoadU32(bytes + 16);
    freeListBlock = LoadU32(bytes + 20);
    pointerOffset = LoadU32(bytes + 24);
    rootHandle = LoadU32(bytes + 28);
}

void BlockFileHeader::Store(uint8_t* bytes) const {
    StoreU32(bytes + 0, magic);
    StoreU32(bytes + 4, blockSize);
    StoreU32(bytes + 8, nextBlock);
    StoreU32(bytes + 12, blockLimit);
    StoreU32(bytes + 16, freeCount);
    StoreU32(bytes + 20, freeListBlock);
    StoreU32(bytes + 24, pointerOffset);
    StoreU32(bytes + 28, rootHandle);
}

uint32_t AddressableBlocks(uint32_t blockSize) {
    if (blockSize == 0) return 0;
    uint64_t blocks = (uint64_t(1) << 32) / blockSize;
    return blocks > UINT32_MAX ? UINT32_MAX : uint32_t(blocks);
}

ErrorCode CheckBlockFileHeader(const BlockFileHeader& h) {
    if (h.magic != kBlockFileMagic) return ERR_INVALIDFORMAT;
    if (h.blockSize < kMinBlockSize || h.blockSize > kMaxBlockSize || h.blockSize % 4 != 0) return ERR_INVALIDFORMAT;
    if (h.pointerOffset < kMinPointerOffset || h.pointerOffset >= h.blockSize || h.pointerOffset % 4 != 0)
        return ERR_INVALIDFORMAT;
    if (h.nextBlock < 1 || h.nextBlock > AddressableBlocks(h.blockSize)) return ERR_INVALIDFORMAT;
    if (h.freeCount > h.nextBlock - 1) return ERR_INVALIDFORMAT;
    if (h.freeCount > 0 && (h.freeListBlock == 0 || h.freeListBlock >= h.nextBlock)) return ERR_INVALIDFORMAT;
    if (h.rootHandle >= h.nextBlock) return ERR_INVALIDFORMAT;
    return nullptr;
}
