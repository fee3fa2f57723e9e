#include "app/Payload.h"

#include <gtest/gtest.h>

#include <cstring>

#include "MemoryFile.h"
#include "platform/Win32.h"

namespace {

std::vector<uint8_t> FileWithHeaders(size_t size, std::vector<std::pair<size_t, uint32_t>> headers) {
    std::vector<uint8_t> bytes(size, 0x90);
    for (auto [at, blockSize] : headers) {
        std::memcpy(&bytes[at], "LZSS", 4);
        for (int i = 0; i < 4; ++i) bytes[at + 8 + i] = uint8_t(blockSize >> (8 * i));
    }
    return bytes;
}

bool Scan(std::vector<uint8_t> bytes, uint32_t* offset) {
    MemoryFile file(std::move(bytes));
    return FindPayloadOffset(&file, offset);
}

TEST(PayloadScan, FindsTheFirstHeaderInFileOrder) {
    uint32_t offset = 0;
    ASSERT_TRUE(Scan(FileWithHeaders(4 * 8192, {{9000, 0x8000}, {100, 0x8000}}), &offset));
    EXPECT_EQ(offset, 100u);
}

TEST(PayloadScan, HeaderAcrossABlockEndIsFoundThroughTheOverlap) {
    uint32_t offset = 0;
    for (size_t start : {8192 - 12, 8192 - 7, 8192 - 1}) {
        ASSERT_TRUE(Scan(FileWithHeaders(4 * 8192, {{start, 0x8000}}), &offset)) << start;
        EXPECT_EQ(offset, start);
    }
}

TEST(PayloadScan, OtherBlockSizesArePassedOver) {
    uint32_t offset = 0;
    ASSERT_TRUE(Scan(FileWithHeaders(4 * 8192, {{50, 0x4000}, {60, 0x80000000}, {8300, 0x8000}}), &offset));
    EXPECT_EQ(offset, 8300u);
    EXPECT_FALSE(Scan(FileWithHeaders(4 * 8192, {{50, 0x4000}}), &offset));
}

TEST(PayloadScan, StartsAtOrAfterTheLimitAreNeverExamined) {
    // Size 5 blocks + 100 bytes: the limit is 4 blocks.
    uint32_t offset = 0;
    EXPECT_FALSE(Scan(FileWithHeaders(5 * 8192 + 100, {{4 * 8192, 0x8000}}), &offset));
    ASSERT_TRUE(Scan(FileWithHeaders(5 * 8192 + 100, {{4 * 8192 - 1, 0x8000}}), &offset));
    EXPECT_EQ(offset, 4u * 8192 - 1);
}

TEST(PayloadScan, FilesBelowTwoBlocksHoldNoPayload) {
    uint32_t offset = 0;
    EXPECT_FALSE(Scan(FileWithHeaders(16383, {{0, 0x8000}}), &offset));
    EXPECT_FALSE(Scan({}, &offset));
    ASSERT_TRUE(Scan(FileWithHeaders(16384 + 8192, {{0, 0x8000}}), &offset));
    EXPECT_EQ(offset, 0u);
}

// Whatever the command line names (a parent chooses it), the payload is read
// from the module's own file; a buffer it does not fit is refused, not cut.
TEST(OwnProgramPath, IsTheModulesOwnFile) {
    char module[256];
    DWORD length = GetModuleFileNameA(nullptr, module, sizeof module);
    ASSERT_GT(length, 0u);
    char path[256];
    ASSERT_TRUE(OwnProgramPath(path, sizeof path));
    EXPECT_STREQ(path, module);
    EXPECT_FALSE(OwnProgramPath(path, length));
}

}  // namespace
