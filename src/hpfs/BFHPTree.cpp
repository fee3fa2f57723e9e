// CBFHP: handles and their index trees: finding a handle's blocks, its
// size, and the check of a whole tree.
//
// Tree shape: a handle with n > 0 data blocks at depth d has exactly
// ceil(n / K^m) index blocks at height m = 1..d above the data, filled from
// the left, so the blocks any resize needs are known before it starts.
#include "hpfs/BFHP.h"

#include <algorithm>

#include "pools/DefaultPools.h"

namespace {
// Above any block count a 32-bit file can hold; keeps products from overflowing.
constexpr uint64_t kSaturated = uint64_t(1) << 40;
}  // namespace

uint64_t CBFHP::Capacity(uint32_t atDepth) const {
    uint64_t capacity = headPointers;
    for (uint32_t i = 0; i < atDepth && capacity < kSaturated; ++i) capacity *= indexPointers;
    return capacity < kSaturated ? capacity : kSaturated;
}

uint64_t CBFHP::IndexBlocksFor(uint64_t dataBlocks, uint32_t atDepth) const {
    uint64_t total = 0, span = 1;
    for (uint32_t m = 1; m <= atDepth; ++m) {
        span = span < kSaturated ? span * indexPointers : kSaturated;
        total += (dataBlocks + span - 1) / span;
    }
    return total;
}

// Handle 0, a number outside the file and a free block are refused with
// "BADPARAMS"; a head whose depth exceeds 5, whose tree cannot address its
// size, or whose head, data and index blocks (one per level at least) would
// outnumber the blocks in use, with "INVALIDFORMAT". Sizes are thereby
// bounded by the file's real size before anything is allocated for them.
ErrorCode CBFHP::LoadHead(PoolHandle handle) {
    if (!file) return ERR_UNKNOWN;
    if (handle > UINT32_MAX || !IsBlockNumber(uint32_t(handle)) || freeBlocks.Contains(uint32_t(handle)))
        return ERR_BADPARAMS;
    if (ErrorCode error = LoadSlot(kHeadSlot, uint32_t(handle), true)) return error;
    int16_t storedDepth = int16_t(LoadU16(slots[kHeadSlot].buffer + kHeadDepthOffset));
    if (storedDepth < 0 || uint32_t(storedDepth) > kMaxIndexDepth) return ERR_INVALIDFORMAT;
    const uint64_t dataBlocks = BlocksFor(HeadSize());
    if (dataBlocks > Capacity(uint32_t(storedDepth))) return ERR_INVALIDFORMAT;
    if (1 + dataBlocks + (dataBlocks ? uint32_t(storedDepth) : 0) > BlocksInUse()) return ERR_INVALIDFORMAT;
    depth = uint32_t(storedDepth);
    return nullptr;
}

ErrorCode CBFHP::CheckHandle(PoolHandle handle) {
    if (ErrorCode error = LoadHead(handle)) return lastError = error;
    const uint64_t dataBlocks = BlocksFor(HeadSize());
    if (dataBlocks == 0) return nullptr;
    const uint64_t count = 1 + dataBlocks + IndexBlocksFor(dataBlocks, depth);
    if (count > BlocksInUse()) return lastError = ERR_INVALIDFORMAT;
    // Data blocks fill the list from the front, the head and the index
    // blocks (about one in K) from the back.
    auto* blocks = static_cast<uint32_t*>(g_pDefaultPtrPool->Alloc(uint32_t(count * 4)));
    if (!blocks) return lastError = ERR_ALLOCFAIL;
    uint32_t* const data = blocks;
    uint32_t* const tree = blocks + dataBlocks;
    uint64_t treeCount = 0;
    tree[treeCount++] = uint32_t(handle);
    uint32_t block;
    ErrorCode error = Locate(0, &block);
    // The level-l index block is entered when the digits below it are all 0.
    for (uint64_t j = 0; !error;) {
        for (uint32_t l = depth; l >= 1 && path[l] == 0; --l) {
            if (dataBlocks + treeCount == count) {
                error = ERR_INVALIDFORMAT;
                break;
            }
            tree[treeCount++] = slots[l + 1].block;
        }
        if (error) break;
        data[j] = block;
        if (++j == dataBlocks) break;
        error = Advance(&block);
    }
    // No block twice. A handle written in one go has its data blocks in
    // rising order already; only others need sorting.
    if (!error) {
        uint32_t* const dataEnd = data + dataBlocks;
        uint32_t* const treeEnd = tree + treeCount;
        if (!std::is_sorted(data, dataEnd)) std::sort(data, dataEnd);
        std::sort(tree, treeEnd);
        if (std::adjacent_find(data, dataEnd) != dataEnd || std::adjacent_find(tree, treeEnd) != treeEnd)
            error = ERR_INVALIDFORMAT;
        for (uint32_t* t = tree; !error && t != treeEnd; ++t)
            if (std::binary_search(data, dataEnd, *t)) error = ERR_INVALIDFORMAT;
    }
    g_pDefaultPtrPool->Free(blocks);
    if (error) lastError = error;
    return error;
}

// Loads the index blocks of levels level..depth along the path. An index
// block must not repeat a block above it: that would be a cycle.
ErrorCode CBFHP::LoadPathFrom(uint32_t level) {
    for (uint32_t l = level; l <= depth; ++l) {
        uint32_t block = Word(int(l), path[l - 1]);
        if (slots[l + 1].block != block) {
            if (!IsBlockNumber(block) || freeBlocks.Contains(block) || IsOnPath(block, l)) return ERR_INVALIDFORMAT;
        }
        if (ErrorCode error = LoadSlot(int(l + 1), block, true)) return error;
    }
    return nullptr;
}

ErrorCode CBFHP::Locate(uint32_t offset, uint32_t* dataBlock) {
    uint64_t rest = offset / blockSize;
    for (uint32_t l = depth; l >= 1; --l) {
        path[l] = uint32_t(rest % indexPointers);
        rest /= indexPointers;
    }
    if (rest >= headPointers) return ERR_INVALIDFORMAT;
    path[0] = uint32_t(rest) + header.pointerOffset / 4;
    if (ErrorCode error = LoadPathFrom(1)) return error;
    return DataBlockAtPath(dataBlock);
}

ErrorCode CBFHP::AdvanceAcross(uint32_t* dataBlock) {
    uint32_t l = depth;
    while (l >= 1 && path[l] == indexPointers - 1) path[l--] = 0;
    if (l == 0 && path[0] == indexPointers - 1) return ERR_INVALIDFORMAT;
    ++path[l];
    if (ErrorCode error = LoadPathFrom(l + 1)) return error;
    return DataBlockAtPath(dataBlock);
}

uint32_t CBFHP::Size(PoolHandle handle) {
    if (ErrorCode error = LoadHead(handle)) {
        lastError = error;
        return 0;
    }
    return HeadSize();
}
