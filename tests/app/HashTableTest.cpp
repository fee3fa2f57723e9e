#include "app/HashTable.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

namespace {

struct Record {
    Record* link;
    uint32_t key;
    int disposed;
};

uint32_t HashKey(const void* key, uint32_t bucketCount) {
    return static_cast<const Record*>(key)->key % bucketCount;
}
int16_t CompareKey(const void* probe, const void* element) {
    return static_cast<const Record*>(probe)->key == static_cast<const Record*>(element)->key ? 0 : 1;
}
void Dispose(void* element, void* counter) {
    ++static_cast<Record*>(element)->disposed;
    ++*static_cast<int*>(counter);
}

TEST(HashTable, ChainsFindUnlinkAndRemove) {
    int disposed = 0;
    CHashTable table(4, HashKey, CompareKey, Dispose, offsetof(Record, link), 0);
    table.userData = &disposed;
    std::vector<Record> records(6);
    for (uint32_t i = 0; i < records.size(); ++i) {
        records[i] = Record{nullptr, i, 0};
        ASSERT_EQ(table.Insert(&records[i]), nullptr);
    }
    EXPECT_EQ(table.Insert(nullptr), ERR_UNKNOWN);
    EXPECT_EQ(table.ElementCount(), 6u);

    Record probe{nullptr, 4, 0};
    void** slot = nullptr;
    EXPECT_EQ(table.Find(&probe, &slot), &records[4]);
    EXPECT_EQ(*slot, &records[4]);  // 4 was inserted after 0: the head of bucket 0
    EXPECT_EQ(table.FindInBucket(&probe, 1, nullptr), nullptr);

    void* taken = nullptr;
    EXPECT_EQ(table.Unlink(&probe, &taken), nullptr);
    EXPECT_EQ(taken, &records[4]);
    EXPECT_EQ(records[4].disposed, 0);
    EXPECT_EQ(table.Unlink(&probe, &taken), ERR_NOTFOUND);
    probe.key = 0;
    EXPECT_EQ(table.Find(&probe, nullptr), &records[0]);  // still reachable behind the removed head
    EXPECT_EQ(table.Remove(&probe), nullptr);
    EXPECT_EQ(records[0].disposed, 1);
    EXPECT_EQ(table.ElementCount(), 4u);
    EXPECT_EQ(table.Unlink(nullptr, &taken), ERR_UNKNOWN);

    table.Clear();
    EXPECT_EQ(disposed, 5);
    EXPECT_EQ(table.ElementCount(), 0u);
    probe.key = 5;
    EXPECT_EQ(table.Find(&probe, nullptr), nullptr);
}

TEST(HashTable, RebaseTurnsOffsetsIntoPointers) {
    // Two records in one block, linked by offsets from its start.
    // The block starts with a spare word: offset 0 marks the end of a chain.
    struct Block {
        uintptr_t spare;
        Record a, b;
    } block{0, {nullptr, 2, 0}, {nullptr, 6, 0}};
    CHashTable table(4, HashKey, CompareKey, nullptr, offsetof(Record, link), 0);
    ASSERT_EQ(table.Insert(&block.a), nullptr);
    ASSERT_EQ(table.Insert(&block.b), nullptr);
    // Rewrite the chain of bucket 2 (b -> a) as offsets.
    Record probe{nullptr, 6, 0};
    void** head = nullptr;
    table.Find(&probe, &head);
    uintptr_t base = reinterpret_cast<uintptr_t>(&block);
    *head = reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(&block.b) - base);
    block.b.link = reinterpret_cast<Record*>(reinterpret_cast<uintptr_t>(&block.a) - base);
    ASSERT_EQ(table.Rebase(base), nullptr);
    EXPECT_EQ(table.Find(&probe, nullptr), &block.b);
    probe.key = 2;
    EXPECT_EQ(table.Find(&probe, nullptr), &block.a);
}

}  // namespace
