#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "pools/DefaultPools.h"
#include "pools/PtrPool.h"
#include "pools/ReusePtrPool.h"

TEST(SizedPtrPool, RecordsErrorsInTheirDocumentedOrder) {
    CSizedPtrPool pool;
    EXPECT_EQ(pool.Alloc(0), nullptr);
    EXPECT_EQ(pool.LastError(), ERR_ZEROSIZE);
    // The size is tested before the pointer.
    EXPECT_EQ(pool.Realloc(nullptr, 0), nullptr);
    EXPECT_EQ(pool.LastError(), ERR_ZEROSIZE);
    EXPECT_EQ(pool.Realloc(nullptr, 8), nullptr);
    EXPECT_EQ(pool.LastError(), ERR_NULLPOINTER);
    pool.Free(nullptr);
    EXPECT_EQ(pool.LastError(), ERR_NULLPOINTER);
    EXPECT_EQ(pool.Size(nullptr), 0u);
    EXPECT_EQ(pool.LastError(), ERR_NULLPOINTER);
}

TEST(SizedPtrPool, KeepsTheRequestedSizeAndTheDataAcrossRealloc) {
    CSizedPtrPool pool;
    auto* p = static_cast<char*>(pool.Alloc(10));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(pool.LastError(), nullptr);
    EXPECT_EQ(pool.Size(p), 10u);
    std::memcpy(p, "0123456789", 10);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % sizeof(void*), 0u) << "records stored here need alignment";

    p = static_cast<char*>(pool.Realloc(p, 20));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(pool.Size(p), 20u);
    EXPECT_EQ(std::memcmp(p, "0123456789", 10), 0);

    // Size leaves the last error as it was.
    pool.Alloc(0);
    EXPECT_EQ(pool.Size(p), 20u);
    EXPECT_EQ(pool.LastError(), ERR_ZEROSIZE);
    pool.Free(p);
    EXPECT_EQ(pool.LastError(), nullptr);
}

TEST(SizedPtrPool, OversizedRequestFailsInsteadOfWrapping) {
    CSizedPtrPool pool;
    EXPECT_EQ(pool.Alloc(0xFFFFFFFFu), nullptr);
    EXPECT_EQ(pool.LastError(), ERR_NOTENOUGHMEMORY);
}

TEST(HeapPools, NeverRecordAnErrorAndAnswerTheirSizes) {
    CHeapPtrPool heap;
    void* p = heap.Alloc(33);
    ASSERT_NE(p, nullptr);
    EXPECT_GE(heap.Size(p), 33u);
    p = heap.Realloc(p, 100);
    EXPECT_GE(heap.Size(p), 100u);
    heap.Free(p);
    heap.Free(nullptr);
    EXPECT_EQ(heap.LastError(), nullptr);
    EXPECT_EQ(heap.Reserved(1, 2), ERR_NOTIMPLEMENTED);

    CHeapHandlePool handles;
    PoolHandle h = handles.Alloc(16);
    ASSERT_NE(h, 0u);
    EXPECT_EQ(handles.Lock(h), reinterpret_cast<void*>(h));
    EXPECT_EQ(handles.HandleOf(handles.PointerOf(h)), h);
    EXPECT_GE(handles.Size(h), 16u);
    handles.Unlock(h, 1);
    handles.Free(h);
    EXPECT_EQ(handles.LastError(), nullptr);
    EXPECT_EQ(handles.GetRoot(), 0u);
    EXPECT_EQ(handles.Flush(), nullptr);
}

TEST(DefaultPools, ExistBeforeMainRuns) {
    ASSERT_NE(g_pDefaultPtrPool, nullptr);
    ASSERT_NE(g_pDefaultHandlePool, nullptr);
    EXPECT_EQ(g_pDefaultPtrPool->GetClassName(), CPtrPool::className);
    EXPECT_EQ(g_pDefaultHandlePool->GetClassName(), CHandlePool::className);
}

// The heap, counting the blocks it has out.
class CountingPool : public CHeapPtrPool {
public:
    void* Alloc(uint32_t size) override {
        ++allocs;
        ++out;
        return CHeapPtrPool::Alloc(size);
    }
    void Free(void* pointer) override {
        if (pointer) --out;
        CHeapPtrPool::Free(pointer);
    }
    int allocs = 0, out = 0;
};

TEST(ReusePtrPool, HandsFreedBlocksOutAgainBySizeAndGivesEveryBlockBack) {
    CountingPool source;
    {
        CReusePtrPool pool(&source);
        std::mt19937 random(7);
        std::vector<std::pair<char*, uint32_t>> live;  // each block filled with its own tag
        const uint32_t sizes[3] = {100, 4096, 70000};
        for (int step = 0; step < 3000; ++step) {
            if (live.size() < 9 && random() % 2) {
                const uint32_t size = sizes[random() % 3];
                auto* block = static_cast<char*>(pool.Alloc(size));
                ASSERT_NE(block, nullptr);
                ASSERT_EQ(pool.Size(block), size);
                for (auto& [other, otherSize] : live) ASSERT_NE(other, block) << "a block in use handed out again";
                std::memset(block, step & 0xFF, size);
                live.emplace_back(block, size);
            } else if (!live.empty()) {
                const size_t k = random() % live.size();
                auto [block, size] = live[k];
                ASSERT_EQ(block[0], block[size - 1]) << "a block in use was written by another";
                pool.Free(block);
                live.erase(live.begin() + long(k));
            }
            ASSERT_LE(source.out, int(live.size() + CReusePtrPool::kKept));
        }
        // Blocks of one size freed and taken in turn come from the source once.
        for (auto& [block, size] : live) pool.Free(block);
        const int before = source.allocs;
        for (int i = 0; i < 50; ++i) pool.Free(pool.Alloc(70000));
        EXPECT_LE(source.allocs - before, 1);
    }
    EXPECT_EQ(source.out, 0) << "the kept blocks go back to the source";
}
