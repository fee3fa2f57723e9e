#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "TestData.h"
#include "payload/LzssFormat.h"

namespace {

const uint8_t kAllBitLengths[] = {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xB1, 0xB2, 0xB3,
                                  0xB4, 0xB5, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5};

std::vector<uint8_t> Encode(const std::vector<uint8_t>& in, uint8_t bits, const uint8_t* reference = nullptr) {
    std::vector<uint8_t> out(in.size() + in.size() / 8 + 16);
    uint32_t length = uint32_t(out.size());
    EXPECT_EQ(nullptr, EncodeBlock(in.data(), uint32_t(in.size()), out.data(), &length, bits, reference));
    out.resize(length);
    return out;
}

std::vector<uint8_t> Decode(const std::vector<uint8_t>& stream, uint8_t bits, uint32_t capacity,
                            ErrorCode* error = nullptr) {
    std::vector<uint8_t> out(capacity);
    uint32_t length = capacity;
    ErrorCode result = DecodeBlock(stream.data(), uint32_t(stream.size()), out.data(), &length, bits);
    if (error) *error = result;
    else EXPECT_EQ(nullptr, result);
    out.resize(result ? 0 : length);
    // The scribbling decoder gives the same outcome, whatever the buffer held.
    std::vector<uint8_t> scribbled(capacity, 0xEE);
    uint32_t scribbledLength = capacity;
    EXPECT_EQ(result, DecodeBlockScribbling(stream.data(), uint32_t(stream.size()), scribbled.data(), &scribbledLength, bits));
    if (!result) {
        EXPECT_EQ(length, scribbledLength);
        scribbled.resize(scribbledLength);
        EXPECT_EQ(out, scribbled);
    }
    return out;
}

// Decodes as CLzssFile does: stream at the end of one buffer, output from its start.
std::vector<uint8_t> DecodeInPlace(const std::vector<uint8_t>& stream, uint8_t bits, uint32_t blockSize) {
    std::vector<uint8_t> work(LzssWorkBufferSize(blockSize));
    std::copy(stream.begin(), stream.end(), work.end() - long(stream.size()));
    uint32_t length = blockSize;
    EXPECT_EQ(nullptr, DecodeBlock(work.data() + work.size() - stream.size(), uint32_t(stream.size()), work.data(),
                                   &length, bits));
    return std::vector<uint8_t>(work.begin(), work.begin() + length);
}

// Hand-made streams, most significant bit first.
struct Bits {
    std::vector<uint8_t> bytes;
    uint32_t count = 0;
    Bits& Put(uint32_t value, unsigned n) {
        for (unsigned i = n; i-- > 0;) {
            if (count % 8 == 0) bytes.push_back(0);
            if ((value >> i) & 1) bytes.back() |= uint8_t(0x80 >> (count % 8));
            ++count;
        }
        return *this;
    }
    Bits& Literal(uint8_t value) { return Put(0x100 | value, 9); }
    // 0xC4: 12 offset bits, 4 length bits.
    Bits& Match(uint32_t field, uint32_t length) { return Put(0, 1).Put(field, 12).Put(length - 2, 4); }
};

TEST(LzssCodec, RoundTripsEveryVariantOnEveryKindOfData) {
    const std::vector<std::vector<uint8_t>> inputs = {
        testdata::Text(32768, 1), testdata::Binary(32768, 2), testdata::Runs(32768, 3),
        testdata::Random(32768, 4), testdata::Text(1000, 5),  std::vector<uint8_t>(32768, 0x41),
    };
    for (uint8_t bits : kAllBitLengths) {
        for (const auto& input : inputs) {
            auto stream = Encode(input, bits);
            EXPECT_EQ(input, Decode(stream, bits, 32768)) << std::hex << int(bits);
            if (stream.size() < input.size()) {
                EXPECT_EQ(input, DecodeInPlace(stream, bits, 32768));
            }
        }
    }
}

TEST(LzssCodec, CompressesTextAndRunsAndNotRandomData) {
    EXPECT_LT(Encode(testdata::Text(32768, 1), 0xC4).size(), 32768u / 2);
    EXPECT_LT(Encode(std::vector<uint8_t>(32768, 7), 0xC4).size(), 32768u / 7);
    EXPECT_GT(Encode(testdata::Random(32768, 1), 0xC4).size(), 32768u);
}

TEST(LzssCodec, StreamsEndingAtAndJustAfterAByteBoundary) {
    // Distinct bytes are all literals: n bytes take 9n bits, so n = 8 ends
    // exactly at a byte boundary and n = 9 one bit after it.
    for (uint8_t bits : kAllBitLengths) {
        for (uint32_t n = 1; n <= 40; ++n) {
            std::vector<uint8_t> input(n);
            for (uint32_t i = 0; i < n; ++i) input[i] = uint8_t(i * 37 + 1);
            auto stream = Encode(input, bits);
            EXPECT_EQ((9 * n + 7) / 8, stream.size());
            EXPECT_EQ(input, Decode(stream, bits, n));
        }
    }
    // A match ending exactly at a byte: literal (9) + match (17) + 6 literals (54) = 80 bits.
    Bits exact;
    exact.Literal('x').Match(4095, 5);
    for (int i = 0; i < 6; ++i) exact.Literal(uint8_t('a' + i));
    ASSERT_EQ(80u, exact.count);
    EXPECT_EQ(std::vector<uint8_t>({'x', 'x', 'x', 'x', 'x', 'x', 'a', 'b', 'c', 'd', 'e', 'f'}),
              Decode(exact.bytes, 0xC4, 64));
    // The same tokens with 1..7 bits of padding in the last byte decode alike.
    Bits padded;
    padded.Literal('x').Match(4095, 5);
    for (int i = 0; i < 5; ++i) padded.Literal(uint8_t('a' + i));
    EXPECT_EQ(71u, padded.count);
    EXPECT_EQ(std::vector<uint8_t>({'x', 'x', 'x', 'x', 'x', 'x', 'a', 'b', 'c', 'd', 'e'}),
              Decode(padded.bytes, 0xC4, 64));
}

TEST(LzssCodec, MatchOfDistanceOneRepeatsTheByteJustWritten) {
    Bits stream;
    stream.Literal('Q').Match(4095, 17);
    EXPECT_EQ(std::vector<uint8_t>(18, 'Q'), Decode(stream.bytes, 0xC4, 100));
}

TEST(LzssCodec, BitLengthsAreCheckedOnlyWhenThereIsAStream) {
    std::vector<uint8_t> stream = Encode(testdata::Text(100, 9), 0xA1);
    for (uint8_t bad : {0xA6, 0xB0, 0xC6, 0x00, 0xD1, 0x91}) {
        ErrorCode error;
        Decode(stream, bad, 100, &error);
        EXPECT_EQ(ERR_NOSUCHBITLENGTHS, error);
        uint32_t length = 5;
        EXPECT_EQ(nullptr, DecodeBlock(stream.data(), 0, nullptr, &length, bad));
        EXPECT_EQ(0u, length);
    }
    std::vector<uint8_t> out(8);
    uint32_t length = 8;
    EXPECT_EQ(ERR_NOSUCHBITLENGTHS, EncodeBlock(out.data(), 8, out.data(), &length, 0xC6, nullptr));
}

TEST(LzssCodec, MalformedStreamsAreRefused) {
    ErrorCode error;
    // A copy that reaches before the block's first byte.
    Bits early;
    early.Literal('a').Match(4094, 3);  // distance 2 after one byte
    Decode(early.bytes, 0xC4, 100, &error);
    EXPECT_EQ(ERR_INVALIDFORMAT, error);
    // Output past the capacity, by a literal and by a match.
    Bits literals;
    literals.Literal('a').Literal('b').Literal('c');
    Decode(literals.bytes, 0xC4, 2, &error);
    EXPECT_EQ(ERR_INVALIDFORMAT, error);
    Bits longMatch;
    longMatch.Literal('a').Match(4095, 17);
    Decode(longMatch.bytes, 0xC4, 17, &error);
    EXPECT_EQ(ERR_INVALIDFORMAT, error);
    // A token that runs past the stored bytes: a match starting at bit 9 of a 3-byte stream.
    Bits cut;
    cut.Literal('a').Match(4095, 4);
    cut.bytes.resize(3);
    Decode(cut.bytes, 0xC4, 100, &error);
    EXPECT_EQ(ERR_INVALIDFORMAT, error);
}

TEST(LzssCodec, EncoderReportsBufferTooSmallAndKeepsTheLength) {
    auto input = testdata::Random(1000, 3);
    std::vector<uint8_t> out(2000);
    uint32_t length = 500;
    EXPECT_EQ(ERR_BUFFERTOOSMALL, EncodeBlock(input.data(), 1000, out.data(), &length, 0xC4, nullptr));
    EXPECT_EQ(500u, length);
    // Exactly enough room succeeds.
    auto stream = Encode(input, 0xC4);
    length = uint32_t(stream.size());
    EXPECT_EQ(nullptr, EncodeBlock(input.data(), 1000, out.data(), &length, 0xC4, nullptr));
    length = uint32_t(stream.size()) - 1;
    EXPECT_EQ(ERR_BUFFERTOOSMALL, EncodeBlock(input.data(), 1000, out.data(), &length, 0xC4, nullptr));
}

TEST(LzssCodec, ReferenceRunsBecomeSkipTokensThatLeaveTheOutputInPlace) {
    auto reference = testdata::Random(4000, 11);
    auto changed = reference;
    for (size_t i = 0; i < changed.size(); i += 500) changed[i] ^= 0x5A;
    for (uint8_t bits : kAllBitLengths) {
        auto stream = Encode(changed, bits, reference.data());
        EXPECT_LT(stream.size(), changed.size());
        std::vector<uint8_t> out = reference;  // skipped bytes keep what the buffer held
        uint32_t length = uint32_t(out.size());
        ASSERT_EQ(nullptr, DecodeBlock(stream.data(), uint32_t(stream.size()), out.data(), &length, bits));
        EXPECT_EQ(changed, out);
    }
}

// Damaged copies of real streams (and skip tokens among them) decode alike
// through both decoders, refusals included.
TEST(LzssCodec, DamagedStreamsDecodeAlikeThroughBothDecoders) {
    std::mt19937 rng(7);
    const auto reference = testdata::Binary(32768, 12);
    auto changed = reference;
    for (size_t i = 0; i < changed.size(); i += 97) changed[i] ^= 0x33;
    for (const auto& stream : {Encode(testdata::Binary(32768, 9), 0xC4), Encode(testdata::Text(32768, 10), 0xC4),
                               Encode(changed, 0xC4, reference.data())}) {
        for (int round = 0; round < 200; ++round) {
            auto damaged = stream;
            for (int flips = round % 4; flips-- > 0;) damaged[rng() % damaged.size()] ^= uint8_t(1 << rng() % 8);
            if (round % 5 == 4) damaged.resize(rng() % damaged.size());
            ErrorCode error = nullptr;
            Decode(damaged, 0xC4, 32768 - (round % 3) * 1000, &error);
        }
    }
}

TEST(LzssCodec, EmptyAndOneByteBlocks) {
    std::vector<uint8_t> empty;
    EXPECT_TRUE(Encode(empty, 0xC4).empty());
    std::vector<uint8_t> one = {0x80};
    auto stream = Encode(one, 0xC4);
    EXPECT_EQ(2u, stream.size());
    EXPECT_EQ(one, Decode(stream, 0xC4, 1));
}

}  // namespace
