// BLAKE3 against digests of the pattern byte i = i % 251 at lengths across
// the block, chunk and subtree edges, with the vector kernels and without,
// in one piece or many of odd sizes, and cut in runs hashed apart and
// joined as two threads do; a file's halves hashed on two threads.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HexDigest.h"
#include "MemoryFile.h"
#include "ThreadWork.h"
#include "payload/Blake3.h"
#include "payload/Blake3Halves.h"

namespace {

std::vector<uint8_t> Pattern(size_t n) {
    std::vector<uint8_t> data(n);
    for (size_t i = 0; i < n; ++i) data[i] = uint8_t(i % 251);
    return data;
}

// The digest of data given in pieces of at most piece bytes (0: one piece).
std::string DigestOf(const std::vector<uint8_t>& data, size_t piece = 0) {
    CBlake3 hash;
    hash.Update(nullptr, 0);  // as an empty file's buffer gives it
    for (size_t at = 0; at < data.size();) {
        const size_t n = piece ? std::min(piece, data.size() - at) : data.size();
        hash.Update(data.data() + at, n);
        at += n;
    }
    uint8_t digest[kBlake3Size];
    hash.Finish(digest);
    return HexDigest(digest, kBlake3Size);
}

// The digest with the input cut at `at` (chunks) into runs hashed apart
// and joined in turn, as two threads do.
std::string DigestByRuns(const std::vector<uint8_t>& data, std::vector<size_t> at) {
    at.push_back(data.size() / kBlake3Chunk + 1);
    CBlake3 hash;
    size_t from = 0;
    for (size_t chunk : at) {
        const size_t to = std::min(chunk * kBlake3Chunk, data.size());
        if (to < from) continue;
        CBlake3 run(from / kBlake3Chunk);
        run.Update(data.data() + from, to - from);
        hash.Join(run);
        from = to;
    }
    uint8_t digest[kBlake3Size];
    hash.Finish(digest);
    return HexDigest(digest, kBlake3Size);
}

class Blake3Paths : public testing::TestWithParam<bool> {
protected:
    void SetUp() override { AllowBlake3Vectors(GetParam()); }
    void TearDown() override { AllowBlake3Vectors(true); }
};

TEST_P(Blake3Paths, MatchesTheDigestsOfThePattern) {
    const struct {
        size_t length;
        const char* digest;
    } rows[] = {
        {0, "af1349b9f5f9a1a6a0404dea36dcc9499bcb25c9adc112b7cc9a93cae41f3262"},
        {1, "2d3adedff11b61f14c886e35afa036736dcd87a74d27b5c1510225d0f592e213"},
        {63, "e9bc37a594daad83be9470df7f7b3798297c3d834ce80ba85d6e207627b7db7b"},
        {64, "4eed7141ea4a5cd4b788606bd23f46e212af9cacebacdc7d1f4c6dc7f2511b98"},
        {65, "de1e5fa0be70df6d2be8fffd0e99ceaa8eb6e8c93a63f2d8d1c30ecb6b263dee"},
        {1023, "10108970eeda3eb932baac1428c7a2163b0e924c9a9e25b35bba72b28f70bd11"},
        {1024, "42214739f095a406f3fc83deb889744ac00df831c10daa55189b5d121c855af7"},
        {1025, "d00278ae47eb27b34faecf67b4fe263f82d5412916c1ffd97c8cb7fb814b8444"},
        {2048, "e776b6028c7cd22a4d0ba182a8bf62205d2ef576467e838ed6f2529b85fba24a"},
        {2049, "5f4d72f40d7a5f82b15ca2b2e44b1de3c2ef86c426c95c1af0b6879522563030"},
        {3072, "b98cb0ff3623be03326b373de6b9095218513e64f1ee2edd2525c7ad1e5cffd2"},
        {3073, "7124b49501012f81cc7f11ca069ec9226cecb8a2c850cfe644e327d22d3e1cd3"},
        {4096, "015094013f57a5277b59d8475c0501042c0b642e531b0a1c8f58d2163229e969"},
        {4097, "9b4052b38f1c5fc8b1f9ff7ac7b27cd242487b3d890d15c96a1c25b8aa0fb995"},
        {5120, "9cadc15fed8b5d854562b26a9536d9707cadeda9b143978f319ab34230535833"},
        {8192, "aae792484c8efe4f19e2ca7d371d8c467ffb10748d8a5a1ae579948f718a2a63"},
        {8193, "bab6c09cb8ce8cf459261398d2e7aef35700bf488116ceb94a36d0f5f1b7bc3b"},
        {16384, "f875d6646de28985646f34ee13be9a576fd515f76b5b0a26bb324735041ddde4"},
        {31744, "62b6960e1a44bcc1eb1a611a8d6235b6b4b78f32e7abc4fb4c6cdcce94895c47"},
        {102400, "bc3e3d41a1146b069abffad3c0d44860cf664390afce4d9661f7902e7943e085"},
        {5244114, "f1ab41e888b700e0e128c9753b27a517f28ebd0d5cb2ede1b6e15fc54c3125e2"},
    };
    for (const auto& row : rows) {
        const std::vector<uint8_t> data = Pattern(row.length);
        EXPECT_EQ(row.digest, DigestOf(data)) << row.length;
        for (size_t piece : {1, 63, 65, 1023, 1025, 3000, 65536})
            if (row.length / piece < 100000) {
                EXPECT_EQ(row.digest, DigestOf(data, piece)) << row.length << " in " << piece;
            }
        // Cut anywhere: runs that rise to an alignment and fall from it.
        const size_t chunks = row.length / kBlake3Chunk;
        for (const std::vector<size_t>& cuts : std::vector<std::vector<size_t>>{
                 {0}, {1}, {chunks / 2}, {chunks / 2 / 64 * 64}, {3, 7, chunks - 1}, {chunks}, {5, 1029, 2047}})
            EXPECT_EQ(row.digest, DigestByRuns(data, cuts)) << row.length << " cut at " << cuts[0];
    }
}

INSTANTIATE_TEST_SUITE_P(Blake3, Blake3Paths, testing::Values(true, false));

// With a helper thread and without one to be had, at sizes across the
// halves' alignment: the digest of the whole; a failing read of either half
// is its error, given once the helper is back.
TEST(Blake3Halves, MeasureTheDigestOfTheWhole) {
    const HelperThreads refused{[](void (*)(void*), void*) -> void* { return nullptr; }, [](void*) {}};
    std::vector<uint8_t> first(4096), second(4096);
    uint8_t* const buffers[2] = {first.data(), second.data()};
    for (size_t length : {0, 1, 1025, 131071, 131072, 131073, 5 << 20}) {
        const std::vector<uint8_t> data = Pattern(length);
        for (const HelperThreads& threads : {ToolThreads(), refused}) {
            MemoryFile file(data), other(data);
            file.position = 77;  // read from the start whatever the position
            DeltaContent content;
            ASSERT_EQ(nullptr, MeasureBlake3Halves(&file, &other, buffers, 4096, threads, &content)) << length;
            EXPECT_EQ(length, content.size);
            EXPECT_EQ(kMeasureBlake3, content.measured);
            EXPECT_EQ(DigestOf(data), HexDigest(content.blake3, kBlake3Size)) << length;
        }
    }
    for (bool secondFails : {false, true}) {
        MemoryFile file(Pattern(1 << 20)), other(Pattern(1 << 20));
        (secondFails ? other : file).failReadAfter = 3;
        DeltaContent content;
        EXPECT_EQ(ERR_READFAIL, MeasureBlake3Halves(&file, &other, buffers, 4096, ToolThreads(), &content));
        EXPECT_EQ(0u, content.measured);
    }
}

}  // namespace
