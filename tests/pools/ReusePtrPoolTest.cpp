#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "pools/PtrPool.h"
#include "pools/ReusePtrPool.h"

namespace {

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

}  // namespace

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
