// SHA-256 against the FIPS 180 examples, with the processor's extensions and
// without, one piece or many of every size.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "TestData.h"
#include "payload/Sha256.h"

namespace {

std::string Hex(const uint8_t* p, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) s += {digits[p[i] >> 4], digits[p[i] & 15]};
    return s;
}

// The digest of data given in pieces of at most piece bytes (0: one piece).
std::string DigestOf(const std::string& data, size_t piece = 0) {
    CSha256 sha;
    sha.Update(nullptr, 0);  // as an empty file's buffer gives it
    for (size_t at = 0; at < data.size();) {
        const size_t n = piece ? std::min(piece, data.size() - at) : data.size();
        sha.Update(data.data() + at, n);
        at += n;
    }
    uint8_t digest[kSha256Size];
    sha.Finish(digest);
    return Hex(digest, kSha256Size);
}

class Sha256Paths : public testing::TestWithParam<bool> {
protected:
    void SetUp() override { AllowSha256Extensions(GetParam()); }
    void TearDown() override { AllowSha256Extensions(true); }
};

TEST_P(Sha256Paths, MatchesTheFips180Examples) {
    const struct {
        std::string message;
        const char* digest;
    } rows[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.digest, DigestOf(row.message)) << row.message.size();
        for (size_t piece : {1, 3, 63, 64, 65, 1000})
            EXPECT_EQ(row.digest, DigestOf(row.message, piece)) << row.message.size() << " in " << piece;
    }
}

// Lengths around the padding's edges (55, 56, 64 bytes and so on), given in
// random pieces, agree with the portable rounds given them whole.
TEST_P(Sha256Paths, AgreesWithThePortableRoundsAtEveryLength) {
    const std::vector<uint8_t> bytes = testdata::Random(600, 32);
    std::mt19937 rng(7);
    for (size_t n = 0; n < bytes.size(); n += n < 130 ? 1 : 37) {
        const std::string data(bytes.begin(), bytes.begin() + long(n));
        AllowSha256Extensions(false);
        const std::string portable = DigestOf(data);
        AllowSha256Extensions(GetParam());
        EXPECT_EQ(portable, DigestOf(data, 1 + rng() % 130)) << n;
    }
}

INSTANTIATE_TEST_SUITE_P(Sha256, Sha256Paths, testing::Values(true, false));

}  // namespace
