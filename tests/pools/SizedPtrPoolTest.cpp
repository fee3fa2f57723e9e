#include <gtest/gtest.h>

#include <cstring>

#include "pools/DefaultPools.h"
#include "pools/PtrPool.h"

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
