// Sizes near 4 GiB: a block whose header does not fit beside it in 32 bits
// is refused in every build. On a 32-bit build the sum used to wrap, and a
// request of 0xFFFFFFF8 came back as a block of a few bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "pools/HandlePool.h"
#include "pools/PtrPool.h"

namespace {

// Every size whose block would need more than 32 bits, and the one from
// the report.
std::vector<uint32_t> UnrepresentableSizes() {
    std::vector<uint32_t> sizes{0xFFFFFFF8u};
    for (uint32_t size = UINT32_MAX - CHeapPtrPool::kHeaderSize + 1; size != 0; ++size) sizes.push_back(size);
    return sizes;
}

TEST(PoolSizeLimit, HeapPointerPoolRefusesAndKeepsTheOldBlock) {
    CHeapPtrPool heap;
    auto* kept = static_cast<char*>(heap.Alloc(12));
    ASSERT_NE(kept, nullptr);
    std::memcpy(kept, "keep me here", 12);
    for (uint32_t size : UnrepresentableSizes()) {
        SCOPED_TRACE(size);
        EXPECT_EQ(heap.Alloc(size), nullptr);
        EXPECT_EQ(heap.Realloc(kept, size), nullptr);
        EXPECT_EQ(heap.Size(kept), 12u);
        EXPECT_EQ(std::memcmp(kept, "keep me here", 12), 0);
    }
    // The heap pools report a refusal by the null result alone.
    EXPECT_EQ(heap.LastError(), nullptr);
    // The block goes on working.
    kept = static_cast<char*>(heap.Realloc(kept, 40));
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(std::memcmp(kept, "keep me here", 12), 0);
    heap.Free(kept);
}

TEST(PoolSizeLimit, SizedPoolReportsNotEnoughMemory) {
    CSizedPtrPool pool;
    auto* kept = static_cast<char*>(pool.Alloc(5));
    ASSERT_NE(kept, nullptr);
    std::memcpy(kept, "12345", 5);
    for (uint32_t size : UnrepresentableSizes()) {
        SCOPED_TRACE(size);
        EXPECT_EQ(pool.Alloc(size), nullptr);
        EXPECT_EQ(pool.LastError(), ERR_NOTENOUGHMEMORY);
        EXPECT_EQ(pool.Realloc(kept, size), nullptr);
        EXPECT_EQ(pool.LastError(), ERR_NOTENOUGHMEMORY);
        EXPECT_EQ(pool.Size(kept), 5u);
        EXPECT_EQ(std::memcmp(kept, "12345", 5), 0);
    }
    pool.Free(kept);
    EXPECT_EQ(pool.LastError(), nullptr);
}

TEST(PoolSizeLimit, HeapHandlePoolRefusesAndKeepsTheOldHandle) {
    CHeapHandlePool handles;
    PoolHandle kept = handles.Alloc(3);
    ASSERT_NE(kept, 0u);
    std::memcpy(handles.Lock(kept), "abc", 3);
    handles.Unlock(kept, 1);
    for (uint32_t size : UnrepresentableSizes()) {
        SCOPED_TRACE(size);
        EXPECT_EQ(handles.Alloc(size), 0u);
        EXPECT_EQ(handles.Realloc(kept, size), 0u);
        EXPECT_EQ(handles.Size(kept), 3u);
        EXPECT_EQ(std::memcmp(handles.Lock(kept), "abc", 3), 0);
        handles.Unlock(kept, 0);
    }
    EXPECT_EQ(handles.LastError(), nullptr);
    handles.Free(kept);
}

}  // namespace
