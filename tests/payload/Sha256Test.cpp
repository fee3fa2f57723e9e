// SHA-256 against the FIPS 180 examples (one of them at the padding's edge,
// where it takes a block of its own), with the processor's extensions and
// without, in one piece or many of every size.
#include <gtest/gtest.h>

#include <string>

#include "HexDigest.h"
#include "payload/Sha256.h"

namespace {

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
    return HexDigest(digest, kSha256Size);
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

INSTANTIATE_TEST_SUITE_P(Sha256, Sha256Paths, testing::Values(true, false));

}  // namespace
