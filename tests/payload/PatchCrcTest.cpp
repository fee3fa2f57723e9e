// CRC-32 against published check values and a bit-at-a-time reference, in
// pieces of every size and alignment; the checksum entry's bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "TestData.h"
#include "payload/PatchCrc.h"

namespace {

// The definition, one bit at a time.
uint32_t ReferenceCrc(const uint8_t* p, size_t n) {
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int bit = 0; bit < 8; ++bit) c = c & 1 ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    }
    return ~c;
}

uint32_t CrcOf(const std::string& text) { return Crc32(text.data(), text.size()); }

TEST(Crc32, MatchesPublishedCheckValues) {
    EXPECT_EQ(CrcOf("123456789"), 0xCBF43926u);
    EXPECT_EQ(CrcOf(""), 0u);
    EXPECT_EQ(CrcOf("a"), 0xE8B7BE43u);
    EXPECT_EQ(CrcOf("The quick brown fox jumps over the lazy dog"), 0x414FA339u);
    EXPECT_EQ(CrcOf(std::string(32, '\0')), 0x190A55ADu);
    EXPECT_EQ(CrcOf(std::string(32, '\xFF')), 0xFF6CAB0Bu);
}

TEST(Crc32, EveryLengthAndAlignmentMatchesTheBitwiseDefinition) {
    const std::vector<uint8_t> data = testdata::Random(300, 11);
    for (size_t start = 0; start < 9; ++start)
        for (size_t n = 0; start + n <= data.size(); n += (n < 40 ? 1 : 37))
            ASSERT_EQ(Crc32(data.data() + start, n), ReferenceCrc(data.data() + start, n)) << start << "+" << n;
}

TEST(Crc32, PiecesGiveTheCrcOfTheWhole) {
    const std::vector<uint8_t> data = testdata::Binary(5000, 3);
    const uint32_t whole = Crc32(data.data(), data.size());
    for (size_t cut : {size_t(0), size_t(1), size_t(7), size_t(8), size_t(9), size_t(4095), size_t(4999), size_t(5000)}) {
        const uint32_t first = Crc32Update(0, data.data(), cut);
        EXPECT_EQ(Crc32Update(first, data.data() + cut, data.size() - cut), whole) << cut;
    }
    // Many small pieces, as a streaming writer hands them over.
    uint32_t crc = 0;
    for (size_t at = 0, piece = 1; at < data.size(); at += piece, piece = piece % 13 + 1)
        crc = Crc32Update(crc, data.data() + at, std::min(piece, data.size() - at));
    EXPECT_EQ(crc, whole);
}

TEST(Crc32, EverySingleBitFlipChangesIt) {
    std::vector<uint8_t> data = testdata::Text(64, 5);
    const uint32_t clean = Crc32(data.data(), data.size());
    for (size_t bit = 0; bit < data.size() * 8; ++bit) {
        data[bit / 8] ^= uint8_t(1 << (bit % 8));
        EXPECT_NE(Crc32(data.data(), data.size()), clean) << bit;
        data[bit / 8] ^= uint8_t(1 << (bit % 8));
    }
}

TEST(PatchCrcEntry, HoldsMagicVersionSizeAndCrcLittleEndian) {
    uint8_t entry[kPatchCrcEntrySize];
    MakePatchCrcEntry(0x00012345u, 0xCBF43926u, entry);
    const uint8_t expected[16] = {'Q', 'C', 'R', 'C', 1, 0, 0, 0, 0x45, 0x23, 0x01, 0, 0x26, 0x39, 0xF4, 0xCB};
    EXPECT_EQ(std::memcmp(entry, expected, 16), 0);

    PatchCrcEntry parsed;
    ASSERT_TRUE(ParsePatchCrcEntry(entry, 16, &parsed));
    EXPECT_EQ(parsed.version, 1u);
    EXPECT_EQ(parsed.coveredSize, 0x12345u);
    EXPECT_EQ(parsed.crc, 0xCBF43926u);
}

TEST(PatchCrcEntry, ParsingRefusesOtherSizesAndMagicsButReportsAnyVersion) {
    uint8_t entry[kPatchCrcEntrySize + 1] = {};
    MakePatchCrcEntry(100, 7, entry);
    PatchCrcEntry parsed;
    EXPECT_FALSE(ParsePatchCrcEntry(entry, 15, &parsed));
    EXPECT_FALSE(ParsePatchCrcEntry(entry, 17, &parsed));
    entry[4] = 2;
    ASSERT_TRUE(ParsePatchCrcEntry(entry, 16, &parsed));
    EXPECT_EQ(parsed.version, 2u);
    for (int i = 0; i < 4; ++i) {
        entry[i] ^= 0x20;
        EXPECT_FALSE(ParsePatchCrcEntry(entry, 16, &parsed)) << i;
        entry[i] ^= 0x20;
    }
}

}  // namespace
