#include "hpfs/BlockFileWriter.h"

#include <cstring>

#include "hpfs/BlockFileFormat.h"
#include "pools/DefaultPools.h"

ErrorCode WriteEmptyBlockFile(CFile* file, uint32_t blockSize, uint32_t pointerOffset, uint32_t blockLimit) {
    if (!file) return ERR_BADPARAMS;
    BlockFileHeader header;
    header.magic = kBlockFileMagic;
    header.blockSize = blockSize;
    header.nextBlock = 1;
    header.blockLimit = blockLimit;
    header.pointerOffset = pointerOffset;
    if (CheckBlockFileHeader(header)) return ERR_BADPARAMS;

    auto* block = static_cast<uint8_t*>(g_pDefaultPtrPool->Alloc(blockSize));
    if (!block) return ERR_NOTENOUGHMEM;
    std::memset(block, 0, blockSize);
    header.Store(block);
    ErrorCode error = file->WriteAt(block, 0, blockSize, nullptr);
    g_pDefaultPtrPool->Free(block);
    if (!error) error = file->SeekTo(blockSize);
    if (!error) error = file->Truncate();
    if (!error) error = file->Flush();
    return error;
}
