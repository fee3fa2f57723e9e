#include <gtest/gtest.h>

#include <vector>

#include "pools/HandleTable.h"

// The table is process-wide; each test leaves it empty again.
class HandleTable : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(HandleTableCount(), 0u); }
};

TEST_F(HandleTable, ReusesFreedRecordsAndShrinksOnlyFromTheEnd) {
    EXPECT_EQ(HandleAlloc(0), 0u);
    TableHandle a = HandleAlloc(8);
    TableHandle b = HandleAlloc(8);
    EXPECT_EQ(a, 1u);
    EXPECT_EQ(b, 2u);
    EXPECT_EQ(HandleFree(a), 1);
    EXPECT_EQ(HandleFree(a), 0) << "freeing twice changes nothing";
    EXPECT_EQ(HandleTableCount(), 2u);
    EXPECT_EQ(HandleAlloc(8), 1u) << "the free record is reused";
    EXPECT_EQ(HandleFree(b), 1);
    EXPECT_EQ(HandleTableCount(), 1u);
    EXPECT_EQ(HandleFree(1), 1);
    EXPECT_EQ(HandleTableBytes(), 0u) << "the block goes when the count drops to 0";
}

TEST_F(HandleTable, LocksNestAndRejectInvalidHandles) {
    EXPECT_EQ(HandleLock(0), nullptr);
    TableHandle h = HandleAlloc(4);
    EXPECT_EQ(HandleLock(h + 1), nullptr);
    auto* p = static_cast<unsigned char*>(HandleLock(h));
    ASSERT_NE(p, nullptr);
    p[0] = 42;
    EXPECT_EQ(HandleLock(h), p);
    HandleUnlock(h);
    EXPECT_EQ(static_cast<unsigned char*>(HandleLock(h))[0], 42);
    HandleUnlock(h);
    HandleUnlock(h);
    HandleUnlock(h);  // one too many is ignored
    HandleUnlock(0);
    HandleUnlock(h + 5);
    EXPECT_EQ(HandleFree(h), 1);
    EXPECT_EQ(HandleLock(h), nullptr);
}

TEST_F(HandleTable, RefusesANestingDepthItCannotCount) {
    TableHandle h = HandleAlloc(4);
    for (int i = 0; i < 255; ++i) ASSERT_NE(HandleLock(h), nullptr);
    EXPECT_EQ(HandleLock(h), nullptr);
    for (int i = 0; i < 255; ++i) HandleUnlock(h);
    EXPECT_EQ(HandleFree(h), 1);
}

TEST_F(HandleTable, GrowsInStepsOf4096RecordsAndShrinksBack) {
    const uint32_t step = kHandleRecordStep * kHandleRecordSize;
    if (sizeof(void*) == 4) {
        EXPECT_EQ(step, 57344u);
    }
    std::vector<TableHandle> handles;
    for (uint32_t i = 0; i < 4095; ++i) handles.push_back(HandleAlloc(1));
    EXPECT_EQ(HandleTableBytes(), step);
    handles.push_back(HandleAlloc(1));  // the 4,096th record
    EXPECT_EQ(handles.back(), 4096u);
    EXPECT_EQ(HandleTableBytes(), 2 * step);
    EXPECT_EQ(HandleFree(handles.back()), 1);
    handles.pop_back();
    EXPECT_EQ(HandleTableBytes(), step);
    // Handles stay valid across growth.
    auto* p = static_cast<unsigned char*>(HandleLock(handles[10]));
    ASSERT_NE(p, nullptr);
    HandleUnlock(handles[10]);
    for (auto it = handles.rbegin(); it != handles.rend(); ++it) ASSERT_EQ(HandleFree(*it), 1);
}
