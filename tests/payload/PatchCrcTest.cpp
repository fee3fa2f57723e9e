// CRC-32 against published check values and a bit-at-a-time reference, in
// pieces of every size and alignment; the checksum entry's bytes; the pack
// image that carries it.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>

#include "framework/LittleEndian.h"
#include "MemoryFile.h"
#include "TestData.h"
#include "payload/PackFS.h"
#include "payload/PackWriter.h"
#include "payload/PatchCrc.h"
#include "pools/DefaultPools.h"

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
        for (size_t n = 0; start + n <= data.size(); n += (n < 40 ? 1 : 37)) {
            const uint32_t expected = ReferenceCrc(data.data() + start, n);
            ASSERT_EQ(Crc32(data.data() + start, n), expected) << start << "+" << n;
            // The table path on its own: the one processors without carry-less multiplication take.
            ASSERT_EQ(Crc32UpdateByTables(0, data.data() + start, n), expected) << start << "+" << n;
        }
}

TEST(Crc32, PiecesGiveTheCrcOfTheWhole) {
    const std::vector<uint8_t> data = testdata::Binary(5000, 3);
    const uint32_t whole = Crc32(data.data(), data.size());
    for (size_t cut : {size_t(0), size_t(1), size_t(7), size_t(8), size_t(9), size_t(4095), size_t(4999), size_t(5000)}) {
        const uint32_t first = Crc32Update(0, data.data(), cut);
        EXPECT_EQ(Crc32Update(first, data.data() + cut, data.size() - cut), whole) << cut;
        // Summed apart and combined, as two threads do.
        const uint32_t rest = Crc32(data.data() + cut, data.size() - cut);
        EXPECT_EQ(Crc32Combine(first, rest, data.size() - cut), whole) << cut;
    }
    // Combining is associative at any length, past 4 GiB too.
    for (uint64_t p : {uint64_t(1), uint64_t(4096), uint64_t(3000000000u), uint64_t(1) << 33})
        for (uint64_t q : {uint64_t(0), uint64_t(5), uint64_t(2147483649u)})
            EXPECT_EQ(Crc32Combine(Crc32Combine(0x12345678u, 0x9ABCDEF0u, p), 0x0F1E2D3Cu, q),
                      Crc32Combine(0x12345678u, Crc32Combine(0x9ABCDEF0u, 0x0F1E2D3Cu, q), p + q))
                << p << "+" << q;
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

    // Version 2: the same head, the stored CRC, then the tail CRC.
    uint8_t stored[kPatchCrcStoredEntrySize] = {};
    MakeStoredPatchCrcFields(0x00012345u, 0xCBF43926u, 0x0A0B0C0Du, stored);
    StoreU32(stored + kPatchCrcTailCrcOffset, 0x11223344u);
    const uint8_t expected2[24] = {'Q',  'C',  'R',  'C',  2,    0,    0,    0,    0x45, 0x23, 0x01, 0,
                                   0x26, 0x39, 0xF4, 0xCB, 0x0D, 0x0C, 0x0B, 0x0A, 0x44, 0x33, 0x22, 0x11};
    EXPECT_EQ(std::memcmp(stored, expected2, 24), 0);
    ASSERT_TRUE(ParsePatchCrcEntry(stored, 24, &parsed));
    EXPECT_EQ(parsed.version, 2u);
    EXPECT_EQ(parsed.coveredSize, 0x12345u);
    EXPECT_EQ(parsed.crc, 0xCBF43926u);
    EXPECT_EQ(parsed.storedCrc, 0x0A0B0C0Du);
    EXPECT_EQ(parsed.tailCrc, 0x11223344u);
    EXPECT_EQ(PatchCrcEntrySize(1), 16u);
    EXPECT_EQ(PatchCrcEntrySize(2), 24u);
    EXPECT_EQ(PatchCrcEntrySize(3), 0u);
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

// The checked pack image: random trees (names, sizes, dates) written with
// the checksum entry, read back through CPackFS and compared with the model.
namespace {

struct PoolFree {
    void operator()(uint8_t* p) const { g_pDefaultPtrPool->Free(p); }
};

TEST(CheckedPackImage, RandomTreesReadBackWithTheEntryLastAndCoveringTheRest) {
    std::mt19937 rng(2024);
    for (int round = 0; round < 40; ++round) {
        std::map<std::string, std::vector<uint8_t>> model;  // upper-case name -> bytes
        const int files = 1 + int(rng() % 12);
        const char* folders[] = {"FILES\\", "FILES\\MAPS\\", "FILES\\ZLN\\", ""};
        for (int i = 0; i < files; ++i) {
            std::string name = std::string(folders[rng() % 4]) + "F" + std::to_string(rng() % 50) + ".BIN";
            if (name == "PATCH.CRC") continue;
            model[name] = testdata::Random(rng() % 3 ? rng() % 3000 : 0, rng());
        }
        std::vector<PackWriterEntry> entries;
        uint32_t newest = 0;
        for (const auto& [name, bytes] : model) {
            const uint32_t date = 0x5A210000u + uint32_t(rng() % 5000);
            newest = std::max(newest, date);
            entries.push_back({name.c_str(), bytes.data(), uint32_t(bytes.size()), date});
        }
        uint8_t* raw = nullptr;
        uint32_t size = 0;
        ASSERT_EQ(BuildCheckedPackImage(entries.data(), uint32_t(entries.size()), &raw, &size), nullptr);
        std::unique_ptr<uint8_t, PoolFree> image(raw);

        // The entry is the last 16 bytes and covers everything before them.
        PatchCrcEntry entry;
        ASSERT_TRUE(ParsePatchCrcEntry(raw + size - 16, 16, &entry));
        EXPECT_EQ(entry.version, 1u);
        EXPECT_EQ(entry.coveredSize, size - 16);
        EXPECT_EQ(entry.crc, Crc32(raw, size - 16));

        CPackFS pack;
        ASSERT_EQ(pack.Attach(new MemoryFile(std::vector<uint8_t>(raw, raw + size))), nullptr);
        ErrorCode error = nullptr;
        EXPECT_EQ(pack.GetFileOffset("PATCH.CRC", &error), size - 16);
        for (const auto& [name, bytes] : model) {
            std::unique_ptr<CFile> file(pack.Open(name.c_str(), FM_READ, &error));
            ASSERT_NE(file, nullptr) << name;
            ASSERT_EQ(file->GetSize(), bytes.size()) << name;
            std::vector<uint8_t> back(bytes.size());
            uint32_t got = 0;
            if (!bytes.empty()) {
                EXPECT_EQ(file->Read(back.data(), uint32_t(back.size()), &got), nullptr);
            }
            EXPECT_EQ(back, bytes) << name;
        }
        // Its date is the newest of the others' (the date table follows the directory).
        const uint32_t count = LoadU32(raw + 32), directory = LoadU32(raw + 36);
        ASSERT_EQ(count, model.size() + 1);
        uint32_t index = 0;
        for (const auto& [name, bytes] : model) index += name < std::string("PATCH.CRC");
        EXPECT_EQ(LoadU32(raw + 40 + directory + 4 * index), newest);

        // Without the entry, the same writer gives the plain pack of the tree.
        uint8_t* plainRaw = nullptr;
        uint32_t plainSize = 0;
        ASSERT_EQ(BuildPackImage(entries.data(), uint32_t(entries.size()), &plainRaw, &plainSize), nullptr);
        std::unique_ptr<uint8_t, PoolFree> plain(plainRaw);
        MemoryFile written;
        ASSERT_EQ(WritePack(entries.data(), uint32_t(entries.size()), &written), nullptr);
        EXPECT_EQ(written.data, std::vector<uint8_t>(plainRaw, plainRaw + plainSize));
    }
}

TEST(CheckedPackImage, RefusesAnEntryOfItsOwnName) {
    const uint8_t byte = 1;
    const PackWriterEntry entries[] = {{"Patch.ini", &byte, 1, 0}, {"patch.crc", &byte, 1, 0}};
    uint8_t* raw = nullptr;
    uint32_t size = 0;
    EXPECT_EQ(BuildCheckedPackImage(entries, 2, &raw, &size), ERR_ALREADYEXISTS);
    EXPECT_EQ(raw, nullptr);
}

}  // namespace
