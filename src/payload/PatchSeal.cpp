#include "payload/PatchSeal.h"

#include "framework/LittleEndian.h"

#include <cstring>

#include "payload/LzssFormat.h"
#include "payload/LzssWriter.h"
#include "payload/PatchCrc.h"
#include "pools/DefaultPools.h"

StoredCrcSum::StoredCrcSum(uint32_t packSize, uint32_t blockSize, uint8_t bitLengths)
    : coveredSize_(packSize - kPatchCrcStoredEntrySize),
      entryBlock_(coveredSize_ / blockSize),
      tailStart_(entryBlock_ * blockSize) {
    uint8_t header[kLzssHeaderSize];
    std::memcpy(header, kLzssMagic, 4);
    StoreU32(header + 4, packSize);
    StoreU32(header + 8, blockSize);
    header[12] = bitLengths;
    header[13] = 0;
    headCrc_ = Crc32(header, sizeof header);
}

void StoredCrcSum::AddBlock(uint32_t at, const uint8_t* bytes, uint32_t length) {
    if (added_++ >= entryBlock_) return;
    uint8_t entry[4];
    StoreU32(entry, at);
    headCrc_ = Crc32Update(headCrc_, entry, 4);
    blocksCrc_ = Crc32Update(blocksCrc_, bytes, length);
    blocksLength_ += length;
}

uint32_t StoredCrcSum::StoredCrc(uint32_t entryBlockAt) const {
    uint8_t entry[4];
    StoreU32(entry, entryBlockAt);
    return Crc32Combine(Crc32Update(headCrc_, entry, 4), blocksCrc_, blocksLength_);
}

namespace {

// The entry's 24 bytes, the last of the image, from the image before them.
void FillEntry(uint8_t* image, uint32_t imageSize, uint32_t storedCrc, uint32_t tailStart) {
    const uint32_t covered = imageSize - kPatchCrcStoredEntrySize;
    uint8_t* entry = image + covered;
    MakeStoredPatchCrcFields(covered, Crc32(image, covered), storedCrc, entry);
    StoreU32(entry + kPatchCrcTailCrcOffset,
             Crc32(image + tailStart, covered + kPatchCrcTailCrcOffset - tailStart));
}

}  // namespace

ErrorCode CompressSealedPatch(uint8_t* image, uint32_t imageSize, CFile* target, uint32_t blockSize,
                              uint8_t bitLengths, uint32_t* containerSize) {
    if (imageSize < kPatchCrcStoredEntrySize || blockSize == 0) return ERR_BADPARAMS;
    // The blocks before the entry's, and their table entries, do not depend
    // on the entry: compress once to learn them, fill the entry, compress again.
    if (ErrorCode error = CompressLzssImage(image, imageSize, target, blockSize, bitLengths, nullptr)) return error;
    StoredCrcSum sum(imageSize, blockSize, bitLengths);
    const uint32_t k = sum.EntryBlock();
    auto* table = static_cast<uint8_t*>(g_pDefaultPtrPool->Alloc(4 * (k + 1)));
    auto* block = static_cast<uint8_t*>(g_pDefaultPtrPool->Alloc(blockSize));
    ErrorCode error = table && block ? ReadExactly(target, kLzssTableOffset, table, 4 * (k + 1)) : ERR_NOTENOUGHMEM;
    for (uint32_t j = 0; j < k && !error; ++j) {
        const uint32_t at = LoadU32(table + 4 * j), length = LoadU32(table + 4 * (j + 1)) - at;
        error = ReadExactly(target, at, block, length);
        if (!error) sum.AddBlock(at, block, length);
    }
    if (!error) {
        FillEntry(image, imageSize, sum.StoredCrc(LoadU32(table + 4 * k)), sum.TailStart());
        error = CompressLzssImage(image, imageSize, target, blockSize, bitLengths, containerSize);
    }
    g_pDefaultPtrPool->Free(table);
    g_pDefaultPtrPool->Free(block);
    return error;
}
