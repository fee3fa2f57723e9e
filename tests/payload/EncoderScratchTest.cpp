// The coder over caller-owned scratch memory gives EncodeBlock's bytes, also
// when the scratch holds the state of earlier blocks, and on threads that
// each have their own.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "payload/LzssFormat.h"

namespace {

std::vector<uint8_t> RandomBlock(std::mt19937& random)
{
    std::vector<uint8_t> block(random() % 2 ? 32768 : random() % 40000);
    const unsigned alphabet = 1 + random() % 255;
    for (uint8_t& b : block) b = uint8_t(random() % alphabet);
    return block;
}

std::vector<uint8_t> Encode(const std::vector<uint8_t>& block, uint8_t bitLengths, void* scratch)
{
    std::vector<uint8_t> out(LzssWorkBufferSize(uint32_t(block.size())) + 16);
    uint32_t length = uint32_t(out.size());
    const ErrorCode error = scratch ? EncodeBlockWithScratch(block.data(), uint32_t(block.size()), out.data(), &length,
                                                             bitLengths, nullptr, scratch)
                                    : EncodeBlock(block.data(), uint32_t(block.size()), out.data(), &length,
                                                  bitLengths, nullptr);
    EXPECT_EQ(error, nullptr);
    out.resize(length);
    return out;
}

// 16-byte aligned scratch for the largest window.
struct Scratch {
    std::vector<uint8_t> memory = std::vector<uint8_t>(LzssEncoderScratchSize(0xC5) + 16, 0xA5);
    void* Get() { return memory.data() + (16 - reinterpret_cast<uintptr_t>(memory.data()) % 16) % 16; }
};

TEST(EncoderScratch, ReusedScratchGivesTheSameBytes)
{
    std::mt19937 random(11);
    Scratch scratch;
    for (uint8_t bitLengths : {uint8_t(0xC4), uint8_t(0xA1), uint8_t(0xB3), uint8_t(0xC5)}) {
        for (int i = 0; i < 6; ++i) {
            const std::vector<uint8_t> block = RandomBlock(random);
            EXPECT_EQ(Encode(block, bitLengths, scratch.Get()), Encode(block, bitLengths, nullptr));
        }
    }
    EXPECT_EQ(LzssEncoderScratchSize(0x44), 0u);
    uint8_t out[16];
    uint32_t length = sizeof out;
    const uint8_t source[4] = {1, 2, 3, 4};
    EXPECT_EQ(EncodeBlockWithScratch(source, 4, out, &length, 0xC4, nullptr, nullptr), ERR_BADPARAMS);
}

TEST(EncoderScratch, ThreadsWithScratchOfTheirOwnAgree)
{
    std::mt19937 random(12);
    std::vector<std::vector<uint8_t>> blocks;
    for (int i = 0; i < 16; ++i) blocks.push_back(RandomBlock(random));
    std::vector<std::vector<uint8_t>> expected;
    for (const auto& block : blocks) expected.push_back(Encode(block, 0xC4, nullptr));
    std::vector<std::vector<uint8_t>> results(blocks.size());
    std::vector<std::thread> threads;
    for (size_t t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            Scratch scratch;
            for (size_t i = t; i < blocks.size(); i += 4) results[i] = Encode(blocks[i], 0xC4, scratch.Get());
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(results, expected);
}

}  // namespace
