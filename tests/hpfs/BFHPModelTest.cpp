// Random sequences of Alloc/Realloc/Free/Write/Read against an in-memory
// model, flushed and re-attached from the file bytes in between, with the
// block accounting checked after each sequence. QP_MODEL_SEED chooses the
// seed (the directory service's model test, HPFSModelTest.cpp, uses it too).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <random>

#include "BlockFileTestSupport.h"

namespace {

struct PoolGeometry {
    uint32_t blockSize, pointerOffset, blockLimit, maxSize;
    uint32_t deepestExpected;  // the sequence must reach this index depth
    bool expectRefusals;
};

// Test names show the fields: the raw bytes gtest would print include the
// struct's padding, which differs from run to run and between builds.
void PrintTo(const PoolGeometry& g, std::ostream* out) {
    *out << "block " << g.blockSize << ", pointer at " << g.pointerOffset << ", limit " << g.blockLimit
         << ", size " << g.maxSize;
}

class BFHPModel : public ::testing::TestWithParam<PoolGeometry> {
protected:
    void Reattach() {
        ASSERT_EQ(pool->Flush(), nullptr);
        std::vector<uint8_t> bytes = file->data;
        pool.reset();
        file = new MemoryFile(bytes);
        pool = std::make_unique<CWritableBFHP>();
        ASSERT_EQ(pool->Attach(file), nullptr);
    }

    std::vector<uint32_t> Handles() const {
        std::vector<uint32_t> handles;
        for (auto& entry : model) handles.push_back(entry.first);
        return handles;
    }

    void Fill(uint32_t handle, uint32_t from, uint32_t to) {
        std::vector<uint8_t>& data = model[handle];
        for (uint32_t i = from; i < to; ++i) data[i] = uint8_t(random());
        if (to > from) {
            ASSERT_EQ(pool->Write(handle, data.data() + from, from, to - from), nullptr);
        }
    }

    void CheckAll() {
        for (auto& [handle, data] : model) {
            ASSERT_EQ(pool->Size(handle), data.size());
            if (data.empty()) continue;
            std::vector<uint8_t> got(data.size());
            ASSERT_EQ(pool->Read(handle, got.data(), 0, kWholeHandle), nullptr);
            ASSERT_EQ(got, data) << "handle " << handle;
        }
    }

    uint32_t RandomSize() {
        const PoolGeometry& g = GetParam();
        switch (random() % 4) {
            case 0: return uint32_t(random() % 4);
            case 1: return uint32_t(random() % (g.blockSize * 3));
            default: return uint32_t(random() % g.maxSize);
        }
    }

    static uint32_t Seed() {
        const char* text = std::getenv("QP_MODEL_SEED");
        return text && *text ? uint32_t(std::strtoul(text, nullptr, 0)) : 12345;
    }

    std::mt19937 random{Seed()};
    MemoryFile* file = nullptr;
    std::unique_ptr<CBFHP> pool;
    std::map<uint32_t, std::vector<uint8_t>> model;
};

TEST_P(BFHPModel, RandomSequencesMatchTheModel) {
    const PoolGeometry& g = GetParam();
    pool = NewPool(&file, g.blockSize, g.pointerOffset, g.blockLimit);
    int refused = 0;
    uint32_t deepest = 0;
    for (int round = 0; round < 12; ++round) {
        for (int step = 0; step < 60; ++step) {
            std::vector<uint32_t> handles = Handles();
            uint32_t pick = handles.empty() ? 0 : handles[random() % handles.size()];
            switch (random() % 6) {
                case 0: {
                    uint32_t size = RandomSize();
                    PoolHandle h = pool->Alloc(size);
                    if (!h) {
                        ++refused;
                        break;
                    }
                    ASSERT_EQ(model.count(uint32_t(h)), 0u);
                    model[uint32_t(h)].assign(size, 0);
                    Fill(uint32_t(h), 0, size);
                    break;
                }
                case 1: {
                    if (!pick) break;
                    uint32_t size = RandomSize();
                    uint32_t old = uint32_t(model[pick].size());
                    PoolHandle h = pool->Realloc(pick, size);
                    if (!h) {
                        ++refused;
                        break;
                    }
                    ASSERT_EQ(h, pick);
                    model[pick].resize(size);
                    if (size > old) Fill(pick, old, size);
                    break;
                }
                case 2:
                    if (!pick) break;
                    pool->Free(pick);
                    model.erase(pick);
                    break;
                case 3: {
                    if (!pick || model[pick].empty()) break;
                    uint32_t size = uint32_t(model[pick].size());
                    uint32_t from = uint32_t(random() % size);
                    uint32_t to = from + uint32_t(random() % (size - from)) + 1;
                    Fill(pick, from, to);
                    break;
                }
                default: {
                    if (!pick || model[pick].empty()) break;
                    uint32_t size = uint32_t(model[pick].size());
                    uint32_t from = uint32_t(random() % size);
                    uint32_t length = uint32_t(random() % (size - from + 50));
                    std::vector<uint8_t> got(length, 0xEE);
                    ASSERT_EQ(pool->Read(pick, got.data(), from, length), nullptr);
                    uint32_t clipped = std::min(length, size - from);
                    ASSERT_TRUE(std::equal(got.begin(), got.begin() + clipped, model[pick].begin() + from));
                    break;
                }
            }
            if (HasFatalFailure()) return;
        }
        CheckAll();
        Reattach();
        CheckAll();
        ExpectBlockAccounting(file->data, Handles());
        if (HasFatalFailure()) return;
        for (uint32_t handle : Handles())
            deepest = std::max(deepest, RawWord(file->data, uint64_t(handle) * g.blockSize + 4) & 0xFFFF);
    }
    for (uint32_t handle : Handles()) pool->Free(handle);
    model.clear();
    ASSERT_EQ(pool->Flush(), nullptr);
    ExpectBlockAccounting(file->data, {});
    EXPECT_EQ(pool->Header().freeCount, pool->Header().nextBlock - 1);
    EXPECT_GE(deepest, g.deepestExpected);
    EXPECT_EQ(refused > 0, g.expectRefusals);
}

INSTANTIATE_TEST_SUITE_P(Geometries, BFHPModel,
                         ::testing::Values(PoolGeometry{512, 8, 0xFFFFFFFF, 200000, 1, false},
                                           PoolGeometry{32, 8, 0xFFFFFFFF, 40000, 3, false},
                                           PoolGeometry{64, 16, 0xFFFFFFFF, 60000, 2, false},
                                           PoolGeometry{32, 8, 900, 20000, 2, true}));  // a full file refuses growth
}  // namespace
