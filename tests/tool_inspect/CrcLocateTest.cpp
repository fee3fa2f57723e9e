// The CRC names one changed byte where it alone explains a checksum that
// does not match, and stays silent otherwise.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "CrcLocate.h"
#include "payload/PatchCrc.h"

TEST(CrcLocate, NamesTheOneChangedByteAndNothingElse) {
    std::mt19937 random(32);
    std::vector<uint8_t> message(600000);
    for (uint8_t& byte : message) byte = uint8_t(random());
    const uint32_t stored = Crc32(message.data(), message.size());
    for (size_t at : {size_t(0), size_t(13), size_t(538832 % message.size()), message.size() - 1}) {
        std::vector<uint8_t> damaged = message;
        damaged[at] ^= uint8_t(1 + random() % 255);
        uint64_t found = 0;
        ASSERT_TRUE(LocateOneChangedByte(Crc32(damaged.data(), damaged.size()) ^ stored, damaged.size(), &found)) << at;
        EXPECT_EQ(found, at);
    }
    uint64_t found = 0;
    EXPECT_FALSE(LocateOneChangedByte(0, message.size(), &found));  // nothing changed
    // Past the length where coincidences become likely, nothing is named.
    EXPECT_FALSE(LocateOneChangedByte(Crc32("x", 1) ^ Crc32("y", 1), kLocatableLength + 1, &found));
    EXPECT_TRUE(LocateOneChangedByte(Crc32("x", 1) ^ Crc32("y", 1), 1, &found));
}
