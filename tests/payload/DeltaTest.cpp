#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "../fuzz/DeltaFuzzBase.h"
#include "CrcForge.h"
#include "DeltaEncode.h"
#include "DeltaExtend.h"
#include "CodeImage.h"
#include "MemoryFile.h"
#include "SparseDiskFile.h"
#include "TestData.h"
#include "ThreadWork.h"
#include "payload/Delta.h"
#include "payload/DeltaContent.h"
#include "payload/DeltaModel.h"
#include "payload/DeltaRefs.h"
#include "payload/PatchCrc.h"
#include "pools/DefaultPools.h"
#include "pools/ReusePtrPool.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testcode::CodeImage;
using testcode::PutLittle;

// How a rebuild may decode segments: all on this thread, every second one
// on a helper thread (however short), or with a helper that never starts.
enum class Threads { kOne, kHelper, kRefused };

// Applies a delta in memory; the result's bytes, whatever they are, in *out.
ErrorCode Apply(const Bytes& old, const Bytes& delta, Bytes* out, Threads threads = Threads::kOne,
                CPtrPool* pool = nullptr) {
    MemoryFile oldFile(old), secondOld(old), deltaFile(delta), outFile;
    const HelperThreads refused{[](void (*)(void*), void*) -> void* { return nullptr; }, [](void*) {}};
    const DeltaHelper helper{threads == Threads::kRefused ? refused : ToolThreads(), &secondOld, 0};
    ErrorCode error =
        ApplyDelta(&oldFile, &deltaFile, &outFile, threads == Threads::kOne ? nullptr : &helper, pool);
    *out = outFile.data;
    return error;
}

// Contents like a program's: code with call displacements, text and zeros.
Bytes Program(size_t n, uint32_t seed) {
    Bytes v = testdata::Binary(n * 3 / 4, seed);
    Bytes t = testdata::Text(n / 8, seed + 1);
    v.insert(v.end(), t.begin(), t.end());
    v.resize(n, 0);
    return v;
}

// Adds delta to every little-endian address after an E8 opcode, as a
// relinked program shows when everything moved.
void ShiftAddresses(Bytes* v, uint32_t delta) {
    for (size_t i = 0; i + 5 <= v->size(); ++i) {
        if ((*v)[i] != 0xE8) continue;
        uint32_t a = 0;
        for (int k = 0; k < 4; ++k) a |= uint32_t((*v)[i + 1 + k]) << (8 * k);
        a += delta;
        for (int k = 0; k < 4; ++k) (*v)[i + 1 + k] = uint8_t(a >> (8 * k));
        i += 4;
    }
}

// A random edit script: inserts, deletes, changes, moves, duplicates and shifts.
Bytes Edit(Bytes v, std::mt19937& rng) {
    unsigned edits = 1 + rng() % 8;
    for (unsigned e = 0; e < edits; ++e) {
        size_t at = v.empty() ? 0 : rng() % v.size();
        size_t length = std::min<size_t>(1 + rng() % 2000, v.size() - at);
        switch (rng() % 6) {
        case 0: {
            Bytes piece = testdata::Random(1 + rng() % 500, rng());
            v.insert(v.begin() + long(at), piece.begin(), piece.end());
            break;
        }
        case 1: v.erase(v.begin() + long(at), v.begin() + long(at + length)); break;
        case 2:
            for (size_t i = 0; i < length; i += 1 + rng() % 64) v[at + i] = uint8_t(rng());
            break;
        case 3: {
            Bytes piece(v.begin() + long(at), v.begin() + long(at + length));
            v.erase(v.begin() + long(at), v.begin() + long(at + length));
            size_t to = v.empty() ? 0 : rng() % v.size();
            v.insert(v.begin() + long(to), piece.begin(), piece.end());
            break;
        }
        case 4: {
            Bytes piece(v.begin() + long(at), v.begin() + long(at + length));
            size_t to = v.empty() ? 0 : rng() % v.size();
            v.insert(v.begin() + long(to), piece.begin(), piece.end());
            break;
        }
        default: ShiftAddresses(&v, 1 + rng() % 0x3000); break;
        }
    }
    return v;
}


// A model predicting the references of Program(size): its first three
// quarters code, the rest a table, the second half moved by 0x40.
Bytes ProgramModel(uint32_t size) {
    Bytes m;
    PutLittle(&m, 0, 0x400000, 8);
    PutLittle(&m, 8, 0x800000, 4);
    m.push_back(2);
    const uint32_t code = size * 3 / 4;
    const uint32_t regions[2][3] = {{0, code, 0x1000}, {code, size - code, 0x1000 + code}};
    for (int r = 0; r < 2; ++r) {
        for (uint32_t field : regions[r]) PutLittle(&m, m.size(), field, 4);
        m.push_back(r ? kRefAddress32 : kRefCode32);
    }
    // Two pieces: 0 from 0x1000, 0x40 from half way (LEB128, the
    // displacement's change zigzag).
    for (uint32_t number : {2u, 0x1000u, 0u, size / 2, 0x80u})
        for (; m.push_back(uint8_t(number < 0x80 ? number : (number | 0x80))), number >= 0x80; number >>= 7) {}
    return m;
}

Bytes ReadAll(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint32_t FlagsOf(const Bytes& delta) { return delta.size() >= 24 ? uint32_t(delta[20]) | uint32_t(delta[21]) << 8 : 0; }

// The streams written today and the older ones a patcher still reads (the
// last with SHA-256 digests).
const uint32_t kStreams[] = {kDeltaRawLiterals | kDeltaFastCoding | kDeltaSegments | kDeltaDigests | kDeltaBlake3,
                             kDeltaRawLiterals | kDeltaFastCoding, kDeltaRawLiterals, 0,
                             kDeltaRawLiterals | kDeltaFastCoding | kDeltaSegments,
                             kDeltaRawLiterals | kDeltaFastCoding | kDeltaSegments | kDeltaDigests};

// Deltas that earlier builds wrote (the applier fuzz target's seeds, against its
// old file), one of each kind: the first stream's diffs and literals, the fast
// stream's literals, segments of fast diffs, and those with the files' digests.
// A patcher must rebuild them exactly, whatever becomes of the models' code.
const char* const kStoredDeltas[] = {
    "51444c547017000044b6520a701700007f5f4b540100000000006b827407e80000000000000000010b18000000000000"
    "00006a3b00000000003f2b29bfb880000000000000025b521400000000000001e31700081a06ce00010ea10000000000"
    "00001e5a00000000000000209cb6000000000000086552c40000000000000107f4ac0000004b70ca141d1200036808a4"
    "0000008b1308a43d9464b78000000003abf86511a51303e99200002571ae64000022b5029010e95ecab00000000a7dea"
    "387f00001164e17fbba67d04a22054eb36ce00005c39822a00002cade000002ca2f6122e09fc4f000955e3a80000b32b"
    "fbae00013516000000199e4bdf561525c5000001942b8a34156e39aa5f6d77dfc380009fe7d788001674c2e5027e8657"
    "e200c0e0e2b003afe8bcba0001a0d02f00000018261c41f6a2c385d53884edae2e8f0030c207318b666062af86cc7778"
    "6547c5aa9e66461d6883bc2b663a7d34ba90bc789261b2a60e00000000",
    "51444c547017000044b6520abc0200008917b3ae010000000000014b1da30ef9b12d1b953f3948c26941f0cb0f3d1cad"
    "4c8ddcbd2ebbda1d4e7d61264457bc66f667a3bb29c0b656e2d800c5f215a59593ba24eb05e5be8b782dee3c9108279f"
    "5b2a62d02d895b791348779764f407432a98c6c46f0b1aa8ea60",
    "51444c547017000044b6520abc0200008917b3ae030000000000014b1da30ef9b12d1b953f3948c26941f0cb0f3d1cad"
    "4c8ddcbd2ebbda1d4e7d61264457bc66f667a3bb29c0b656e2d800c5f215a59593ba24eb05e5be8b782dee3c9108279f"
    "5b2a62d02d895b791348779764f407432a98c6c46f0b1aa8ea60",
    "51444c547017000044b6520a701700007f5f4b5407000000dc0500008f00000000005b8b641fa0000000000000000004"
    "2de00000000000000001b001000000000101d75c15a40000000000000009d27926000000000000071d98001e4d460000"
    "03f5be000000000000007293c00000000000007bd140000000000000201720d00000000000000406bcba000001231679"
    "313c00001bbb0cef0000046bcde826a7432b66000000001d915bdc00000000dc0500008e0000000016ed96ee40000000"
    "000871080000000000000003149e000000000000000ce5069dab860000000014dcb000000000000000cc383111000000"
    "00018f54ea4c2b0000000000000b75f28000000000000012057000004a03780079c02a0000000000002742c000000000"
    "0003ec679a00000376c400000005155c4e00004ecada122b00000498180000000000000000dc050000830000000018ed"
    "8b7720103000000000000000000023838000000000000000012314f2000000059ab5e0a3648000000000000001f2c700"
    "000000000001a6a9c2197399000000248737c40000000000003d636000000000005e359ee000000000000002ca460000"
    "000000000077bbc0000001f997a3fc7d798f0558ae8e2b02f1209d3800000000dc05000039000000001a3205bb900000"
    "0000b0792e7be602e17d06fa82018cbcf8e6fab64357ab8657867b990a24a3d34ec3116dd095c354da6e3c69e4000000"
    "00",
    "51444c547017000044b6520aa8160000b150ae570f000000d77768c8c530adcdaa87b392384fe673cf8bfdca5df9f81b"
    "b2a08c7beccfedd3523a6be511e8b66f8ff5677414520cf06c85deaebe1c1ecef3b71285e3a95511290400000d000000"
    "00005774308b1863615a000000850400000e000000001ad5240701c5fa3a4c6c830000bd0600000e0000000017f2950a"
    "000985e980e0ef2a003d0700000b000000001a05e5e7a00000000000",
};

Bytes FromHex(const char* hex) {
    Bytes bytes;
    for (; hex[0] && hex[1]; hex += 2) bytes.push_back(uint8_t(std::stoul(std::string(hex, 2), nullptr, 16)));
    return bytes;
}

TEST(Delta, StoredStreamsOfEveryKindStillRebuild) {
    for (const char* hex : kStoredDeltas) {
        const Bytes delta = FromHex(hex);
        Bytes rebuilt;
        // The applier answers nothing only for the header's size and CRC-32
        // (and SHA-256).
        ASSERT_EQ(nullptr, Apply(DeltaFuzzOld(), delta, &rebuilt)) << hex;
        ASSERT_EQ(nullptr, Apply(DeltaFuzzOld(), delta, &rebuilt, Threads::kHelper)) << hex;
    }
}

TEST(Delta, RandomEditScriptsRebuildExactly) {
    std::mt19937 rng(18);
    // Each round's memory is the last round's, as written by another kind of
    // stream: the patcher reuses it from file to file.
    CReusePtrPool reuse(g_pDefaultPtrPool);
    for (int round = 0; round < 45; ++round) {
        size_t size = round < 4 ? size_t(round) * 7 : 100 + rng() % 60000;
        Bytes old = round % 3 == 0 ? testdata::Text(size, round) : round % 3 == 1 ? Program(size, round)
                                                                                   : testdata::Random(size, round);
        Bytes neu = round % 10 == 9 ? Bytes() : Edit(old, rng);
        const uint32_t flags = kStreams[round / 3 % 6];
        // Segments of a few kilobytes, each pair decoded on two threads.
        const DeltaSegmenting segmenting{2000 + rng() % 20000, 0};
        Bytes delta = EncodeDelta(old.data(), old.size(), neu.data(), neu.size(), 1 + round % 3, flags, segmenting);
        // Every other delta with digests from another path: read past its
        // source as before.
        const std::string source = round % 2 && (flags & kDeltaDigests) ? "Data\\engine-" + std::to_string(round) + ".dll" : "";
        if (!source.empty()) AddDeltaSource(&delta, source);
        Bytes rebuilt;
        ASSERT_EQ(nullptr, Apply(old, delta, &rebuilt, Threads(round % 3), &reuse)) << "round " << round;
        ASSERT_EQ(neu, rebuilt) << "round " << round;

        MemoryFile deltaFile(delta);
        DeltaHeader header;
        ASSERT_EQ(nullptr, ReadDeltaHeader(&deltaFile, &header));
        EXPECT_EQ(header.oldSize, old.size());
        EXPECT_EQ(header.oldCrc, Crc32(old.data(), old.size()));
        EXPECT_EQ(header.newSize, neu.size());
        EXPECT_EQ(header.newCrc, Crc32(neu.data(), neu.size()));
        if (flags & kDeltaDigests) {
            CDeltaDigest key(MeasureFor(header));
            key.Update(old.data(), old.size());
            uint8_t digest[kDeltaDigestSize];
            key.Finish(digest);
            EXPECT_EQ(0, std::memcmp(digest, header.oldDigest, kDeltaDigestSize));
        }
        const bool segmented = (flags & kDeltaSegments) && neu.size() >= 2 * segmenting.size;
        EXPECT_EQ(header.flags, (segmented ? flags : flags & ~kDeltaSegments) | (source.empty() ? 0 : kDeltaSource));
        EXPECT_EQ(source, header.source);
    }
}

TEST(Delta, SmallChangesGiveSmallDeltasAcrossThreadsAndWindows) {
    // Larger than the applier's old window and output buffer, several
    // matching pieces; identical files and shifted addresses cost little,
    // and the delta's bytes do not depend on the number of threads.
    Bytes old = Program(9 << 20, 7);
    const size_t segments = old.size() / DeltaSegmenting().size, segmentsCost = 24 * segments;  // entry and flush each
    Bytes same = EncodeDelta(old.data(), old.size(), old.data(), old.size(), 2);
    EXPECT_LT(same.size(), 100u + segmentsCost);
    Bytes neu = old;
    ShiftAddresses(&neu, 0x40);
    neu.insert(neu.begin() + 1000000, 3000, 0x90);
    neu.erase(neu.begin() + 2000000, neu.begin() + 2100000);
    Bytes delta = EncodeDelta(old.data(), old.size(), neu.data(), neu.size(), 3);
    EXPECT_LT(delta.size(), neu.size() / 20);
    EXPECT_TRUE(delta == EncodeDelta(old.data(), old.size(), neu.data(), neu.size(), 1));
    Bytes rebuilt;
    ASSERT_EQ(nullptr, Apply(old, delta, &rebuilt));
    EXPECT_TRUE(rebuilt == neu);

    // Noise (a compressed entry rewritten) costs no more than its size.
    Bytes noisy = old;
    Bytes noise = testdata::Random(40000, 5);
    noisy.insert(noisy.begin() + 500000, noise.begin(), noise.end());
    delta = EncodeDelta(old.data(), old.size(), noisy.data(), noisy.size(), 2);
    EXPECT_LT(delta.size(), noise.size() + 256 + segmentsCost);
    ASSERT_EQ(nullptr, Apply(old, delta, &rebuilt));
    EXPECT_TRUE(rebuilt == noisy);

    // New text in an old file of other text (the same words): its many short
    // matches cost no more than coding it all as literals.
    Bytes text = testdata::Text(200000, 1), otherText = testdata::Text(200000, 2);
    Bytes asLiterals = EncodeDelta(nullptr, 0, otherText.data(), otherText.size(), 1);
    delta = EncodeDelta(text.data(), text.size(), otherText.data(), otherText.size(), 1);
    EXPECT_LE(delta.size(), asLiterals.size() + asLiterals.size() / 50) << asLiterals.size();
    ASSERT_EQ(nullptr, Apply(text, delta, &rebuilt));
    EXPECT_TRUE(rebuilt == otherText);

    // Short stretches repeated every few kilobytes make short seeks back:
    // the old file is still read about once, in reads of a block or more.
    const Bytes base(old.begin(), old.begin() + (1 << 20));
    Bytes echoes;
    for (size_t at = 0; at < base.size(); at += 3000) {
        echoes.insert(echoes.end(), base.begin() + long(at), base.begin() + long(std::min(at + 3000, base.size())));
        if (at >= 200) echoes.insert(echoes.end(), base.begin() + long(at - 200), base.begin() + long(at - 160));
    }
    delta = EncodeDelta(base.data(), base.size(), echoes.data(), echoes.size(), 2);
    MemoryFile oldFile(base), deltaFile(delta), outFile;
    ASSERT_EQ(nullptr, ApplyDelta(&oldFile, &deltaFile, &outFile));
    EXPECT_TRUE(outFile.data == echoes);
    EXPECT_LE(oldFile.readCalls, int(base.size() >> 13)) << "old file read " << oldFile.readCalls << " times";
}

TEST(Delta, RepetitiveInputsRebuildExactlyInLinearWork) {
    // Inputs whose match search once took time quadratic in their size
    // (minutes at these sizes in a debug build): a block and its sparsely
    // changed copy in swapped order, where every position finds a long match
    // not worth a command; and a short pattern repeated throughout.
    const size_t n = 2 << 20;
    Bytes block = Program(n / 2, 21), changed = block;
    for (size_t k = 1; k <= 5; ++k) changed[changed.size() * k / 6] ^= 0x55;
    Bytes old = block, neu = changed;
    old.insert(old.end(), changed.begin(), changed.end());
    neu.insert(neu.end(), block.begin(), block.end());

    const Bytes pattern = testdata::Binary(1000, 22);
    Bytes periodic(n), periodicNew;
    for (size_t i = 0; i < n; ++i) periodic[i] = pattern[i % pattern.size()];
    periodicNew = periodic;
    for (size_t at = 777; at < n; at += 5000) periodicNew[at] ^= 1;
    periodicNew.insert(periodicNew.begin() + long(n / 3), pattern.begin(), pattern.begin() + 333);

    for (const auto& pair : {std::make_pair(&old, &neu), std::make_pair(&periodic, &periodicNew)}) {
        const Bytes& from = *pair.first;
        const Bytes& to = *pair.second;
        Bytes delta = EncodeDelta(from.data(), from.size(), to.data(), to.size(), 2);
        EXPECT_LT(delta.size(), 2000u);
        EXPECT_TRUE(delta == EncodeDelta(from.data(), from.size(), to.data(), to.size(), 1));
        Bytes rebuilt;
        ASSERT_EQ(nullptr, Apply(from, delta, &rebuilt));
        EXPECT_TRUE(rebuilt == to);
    }
}

TEST(Delta, ReachOfApproximateMatchesAgreesWithPairwiseScoring) {
    // The word-at-a-time reach against the plain running score, on pairs
    // agreeing from never to always, at every length around a word.
    std::mt19937 rng(23);
    for (int round = 0; round < 400; ++round) {
        const int64_t n = round % 40;
        Bytes a = testdata::Random(size_t(n) + 16, uint32_t(round)), b = a;
        const unsigned agreeing = rng() % 5;  // in quarters
        for (uint8_t& byte : b)
            if (rng() % 4 >= agreeing) byte = uint8_t(byte + 1 + rng() % 255);
        int64_t forward = 0, backward = 0;
        for (int64_t i = 0, score = 0, best = 0; i < n; ++i)
            if ((score += a[size_t(i)] == b[size_t(i)] ? 1 : -1) > best) best = score, forward = i + 1;
        for (int64_t i = 1, score = 0, best = 0; i <= n; ++i)
            if ((score += a[size_t(n - i + 8)] == b[size_t(n - i + 8)] ? 1 : -1) > best) best = score, backward = i;
        EXPECT_EQ(forward, ReachForward(a.data(), b.data(), n)) << round;
        EXPECT_EQ(backward, ReachBackward(a.data() + n + 8, b.data() + n + 8, n)) << round;
    }
}

TEST(Delta, PiecesFromAllOverALargeOldFile) {
    // The new file takes odd-sized pieces at odd offsets from all over an
    // old file larger than the applier's cache, some twice, some slightly
    // changed, so blocks are evicted and reread and groups straddle blocks.
    Bytes old = Program(3 << 20, 11);
    std::mt19937 rng(42);
    Bytes neu;
    std::vector<size_t> starts;
    while (neu.size() < (2u << 20)) {
        size_t length = 3000 + rng() % 70000, at = rng() % (old.size() - length);
        if (!starts.empty() && rng() % 4 == 0) at = starts[rng() % starts.size()];
        starts.push_back(at);
        neu.insert(neu.end(), old.begin() + long(at), old.begin() + long(at + length));
        if (rng() % 2) neu[neu.size() - length / 2] ^= 0x21;
    }
    // In segments of 1 MB, paired however short their streams.
    Bytes delta = EncodeDelta(old.data(), old.size(), neu.data(), neu.size(), 2, kStreams[0], {1 << 20, 0});
    EXPECT_LT(delta.size(), neu.size() / 50);
    Bytes rebuilt;
    ASSERT_EQ(nullptr, Apply(old, delta, &rebuilt));
    ASSERT_TRUE(rebuilt == neu);

    // The old file failing at any of its reads: its error, and never more
    // than the new size written.
    MemoryFile probe(old), probeDelta(delta), probeOut;
    ASSERT_EQ(nullptr, ApplyDelta(&probe, &probeDelta, &probeOut));
    for (int after = 0; after < probe.readCalls; after += 1 + probe.readCalls / 7) {
        MemoryFile oldFile(old), deltaFile(delta), outFile;
        oldFile.failReadAfter = after;
        EXPECT_EQ(ERR_READFAIL, ApplyDelta(&oldFile, &deltaFile, &outFile)) << after;
        EXPECT_LT(outFile.data.size(), neu.size()) << after;
        EXPECT_TRUE(std::equal(outFile.data.begin(), outFile.data.end(), neu.begin())) << after;
    }
    // The helper thread's reader failing (its second segment's reads): the
    // error, with the first segment written and nothing of the second.
    MemoryFile oldFile(old), secondOld(old), deltaFile(delta), outFile;
    secondOld.failReadAfter = 0;
    const DeltaHelper helper{ToolThreads(), &secondOld, 0};
    EXPECT_EQ(ERR_READFAIL, ApplyDelta(&oldFile, &deltaFile, &outFile, &helper));
    const uint8_t* entry = delta.data() + DeltaHeaderSize(kStreams[0]);
    const uint32_t firstSegment = uint32_t(entry[0] | entry[1] << 8 | entry[2] << 16 | entry[3] << 24);
    EXPECT_EQ(firstSegment, outFile.data.size());
    EXPECT_TRUE(std::equal(outFile.data.begin(), outFile.data.end(), neu.begin()));
    // The output failing at any of its writes, the helper's segment among
    // them: the error, and only the new file's first bytes written.
    MemoryFile probeOld(old), probeSecond(old), probeDeltaAgain(delta), written;
    const DeltaHelper probeHelper{ToolThreads(), &probeSecond, 0};
    ASSERT_EQ(nullptr, ApplyDelta(&probeOld, &probeDeltaAgain, &written, &probeHelper));
    for (int after = 0; after < written.writeCalls; ++after) {
        MemoryFile first(old), second(old), deltaAgain(delta), failing;
        failing.failWriteAfter = after;
        const DeltaHelper paired{ToolThreads(), &second, 0};
        EXPECT_EQ(ERR_WRITEFAIL, ApplyDelta(&first, &deltaAgain, &failing, &paired)) << after;
        EXPECT_LT(failing.data.size(), neu.size()) << after;
        EXPECT_TRUE(std::equal(failing.data.begin(), failing.data.end(), neu.begin())) << after;
    }
}

// An installed file past 2 GiB, read through the disk layer as the patcher
// reads it (at either width of the program): the rebuild takes pieces from
// 2.5 GiB, from its start and from its last bytes.
class LargeOldFile : public SparseDir {};

TEST_F(LargeOldFile, IsReadPastTwoGiB) {
    constexpr uint32_t kOldSize = 0xC0000000u, kFar = 0xA0000010u, kNear = 1000;
    const Bytes farBytes = testdata::Random(100000, 5), nearBytes = Program(5000, 6);
    const std::filesystem::path path = MakeSparse("old.bin", kOldSize);
    Poke(path, kFar, farBytes.data(), farBytes.size());
    Poke(path, kNear, nearBytes.data(), nearBytes.size());
    // The old file's bytes as the encoder sees them, a group at a time.
    uint8_t group[kDeltaGroup];
    auto oldAt = [&](uint32_t position, uint32_t n) -> const uint8_t* {
        for (uint32_t i = 0; i < n; ++i) {
            const uint32_t p = position + i;
            group[i] = p - kFar < farBytes.size()    ? farBytes[p - kFar]
                       : p - kNear < nearBytes.size() ? nearBytes[p - kNear]
                                                      : 0;
        }
        return group;
    };
    Bytes neu = farBytes;
    for (size_t i = 0; i < neu.size(); i += 997) ++neu[i];
    const Bytes literals = testdata::Text(12, 7);
    neu.insert(neu.end(), literals.begin(), literals.end());
    neu.insert(neu.end(), nearBytes.begin(), nearBytes.end());
    neu.resize(neu.size() + 4000, 0);
    const std::vector<DeltaCommand> commands = {
        {kFar, uint32_t(farBytes.size()), uint32_t(literals.size())}, {kNear, 5000, 0}, {kOldSize - 4096, 4000, 0}};
    DeltaHeader header;
    header.oldSize = kOldSize;
    header.newSize = uint32_t(neu.size());
    header.newCrc = Crc32(neu.data(), neu.size());
    header.flags = kDeltaRawLiterals | kDeltaFastCoding;
    const Bytes delta = EncodeDeltaCommands(header, commands, oldAt, neu.data());

    std::unique_ptr<CDiskFile> old = OpenDisk(path, false);
    ASSERT_TRUE(old);
    MemoryFile deltaFile(delta), out;
    ASSERT_EQ(nullptr, ApplyDelta(old.get(), &deltaFile, &out));
    EXPECT_TRUE(out.data == neu);
}


TEST(Delta, MachineCodeWithMovedReferencesRebuildsExactlyAndSmall) {
    std::mt19937 rng(34);
    for (int round = 0; round < 6; ++round) {
        const bool wide = round % 2 == 1;
        // Functions moved by random displacements; one body recompiled.
        std::vector<uint32_t> gaps(300), moved(300);
        for (uint32_t f = 0; f < gaps.size(); ++f) {
            gaps[f] = 16 * (rng() % 4);
            moved[f] = rng() % 3 ? gaps[f] : 16 * (rng() % 9);
        }
        const Bytes old = CodeImage(wide, gaps, 7), neu = CodeImage(wide, moved, round % 3 ? 7 : 8);
        const uint32_t flags = kStreams[0] | kDeltaReferences;
        const DeltaSegmenting segmenting{20000, 0};
        const Bytes plain = EncodeDelta(old.data(), old.size(), neu.data(), neu.size(), 2, kStreams[0], segmenting);
        const Bytes delta = EncodeDelta(old.data(), old.size(), neu.data(), neu.size(), 2, flags, segmenting);
        EXPECT_TRUE(FlagsOf(delta) & kDeltaReferences) << round;
        if (round % 3) {
            EXPECT_LT(delta.size() * 4, plain.size() * 3) << round;
        }
        Bytes rebuilt;
        ASSERT_EQ(nullptr, Apply(old, delta, &rebuilt, Threads(round % 3))) << round;
        ASSERT_TRUE(rebuilt == neu) << round;
    }
    // A real program's sections (this test's own executable) with code
    // inserted and random edits: exact either way.
    const Bytes self = ReadAll("/proc/self/exe");
    ASSERT_GT(self.size(), 100000u);
    for (int round = 0; round < 3; ++round) {
        Bytes neu = Edit(self, rng);
        const Bytes delta = EncodeDelta(self.data(), self.size(), neu.data(), neu.size(), 2);
        Bytes rebuilt;
        ASSERT_EQ(nullptr, Apply(self, delta, &rebuilt, Threads(round % 3))) << round;
        ASSERT_TRUE(rebuilt == neu) << round;
    }
}

TEST(Delta, PredictedReferencesKeepTheirRule) {
    // Random bytes (every opcode, operands across windows and regions' ends)
    // in regions of every kind, most values inside a large image, under
    // pieces moving both ways: the bytes predicted, whole or a few bytes at
    // a time as a rebuild reads them, keep the CRC-32 the rule gave when
    // first written, as deltas already sent need.
    std::mt19937 rng(16);
    Bytes old = testdata::Random(70000, 16);
    Bytes m;
    PutLittle(&m, 0, 0x10000, 8);
    PutLittle(&m, 8, 0xF0000000u, 4);
    const uint32_t regions[5][3] = {{100, 30000, 0x1000},    {30100, 20000, 0x9000}, {50101, 7001, 0x20000},
                                    {57200, 6000, 0x30000}, {63300, 6000, 0x40000}};
    m.push_back(5);
    for (uint8_t kind = 0; kind < 5; ++kind) {
        for (uint32_t field : regions[kind]) PutLittle(&m, m.size(), field, 4);
        m.push_back(kind);
        const uint32_t end = regions[kind][0] + regions[kind][1];
        for (uint32_t at = regions[kind][0]; kind >= kRefAddress32 && at + 8 <= end; at += 4)
            PutLittle(&old, at, (kind == kRefRva32 ? 0 : 0x10000) + rng() % 0x100000, kind == kRefAddress64 ? 8 : 4);
    }
    const auto number = [&](uint32_t v) {
        for (; m.push_back(uint8_t(v < 0x80 ? v : (v | 0x80))), v >= 0x80; v >>= 7) {}
    };
    number(300);
    for (int k = 0; k < 300; ++k) {
        number(k < 150 ? 1 + rng() % 0x1000 : 1 + rng() % 0x1000000);
        number(rng() % 0x2000);
    }
    std::vector<uint32_t> work(RefWorkWords(uint32_t(m.size())));
    RefModel model;
    ASSERT_TRUE(ParseRefModel(m.data(), uint32_t(m.size()), uint32_t(old.size()), work.data(), &model));
    Bytes whole = old, parts = old;
    PredictReferences(model, whole.data(), 0, uint32_t(whole.size()));
    EXPECT_EQ(0x499B61BEu, Crc32(whole.data(), whole.size()));
    for (uint32_t at = 0; at < old.size(); at += kRefChunk) {
        const uint32_t n = std::min<uint32_t>(kRefChunk, uint32_t(old.size()) - at);
        for (uint32_t done = 0, need; done < n; done = PredictWindow(model, parts.data() + at, at, n, done, need)) {
            need = std::min<uint32_t>(n, done + 1 + rng() % 300);
            ASSERT_TRUE(std::equal(parts.begin() + at, parts.begin() + at + done, whole.begin() + at));
        }
    }
    EXPECT_TRUE(parts == whole);
}

class DamagedDelta : public testing::TestWithParam<uint32_t> {};

TEST_P(DamagedDelta, IsRefusedWithinBounds) {
    Bytes old = Program(5000, 3);
    std::mt19937 rng(5);
    Bytes neu = Edit(old, rng);
    Bytes noise = testdata::Random(700, 4);  // sent raw
    neu.insert(neu.begin() + long(neu.size() / 2), noise.begin(), noise.end());
    const bool predicted = GetParam() & kDeltaReferences;
    const Bytes delta =
        predicted ? EncodeDeltaPredicted(old.data(), old.size(), neu.data(), neu.size(), ProgramModel(5000), 1,
                                         GetParam(), {1500, 0})
                  : EncodeDelta(old.data(), old.size(), neu.data(), neu.size(), 1, GetParam(), {1500, 0});
    Bytes out;
    if (predicted) {
        // Its model breaking each rule: refused before anything is written.
        // The length at 24, the model from 28: region count at 40, regions
        // at 41 and 54 (offset, size, rva, kind), piece count at 67, the
        // second piece's start at 71; all of it 64 bytes further on behind
        // the digests.
        const size_t shift = DeltaHeaderSize(GetParam()) - kDeltaHeaderSize;
        const std::vector<std::pair<size_t, uint32_t>> lies = {
            {24, 0}, {24, 12}, {24, kRefMaxModel + 1}, {24, 0xFFFFFFFF}, {40, 0}, {40, 65},
            {41, 6000}, {45, 0}, {45, 5000}, {54, 3000}, {53, 5}, {67, 3}, {67, 0x80}, {71, 0}};
        for (const auto& lie : lies) {
            Bytes damaged = delta;
            const bool byte = lie.first == 40 || lie.first == 53 || lie.first >= 67;
            for (int i = 0; i < (byte ? 1 : 4); ++i) damaged[shift + lie.first + i] = uint8_t(lie.second >> (8 * i));
            EXPECT_EQ(ERR_BADDELTA, Apply(old, damaged, &out, Threads(lie.first % 3))) << lie.first;
            EXPECT_TRUE(out.empty()) << lie.first;
        }
    }

    // Truncated anywhere: refused (or, cut in the coder's last flushed
    // bytes, still exact), never more than the new size written.
    for (size_t cut = 0; cut < delta.size(); cut += 1 + cut / 8) {
        ErrorCode error = Apply(old, Bytes(delta.begin(), delta.begin() + long(cut)), &out, Threads(cut % 3));
        EXPECT_LE(out.size(), neu.size());
        if (!error) {
            EXPECT_GE(cut + 5, delta.size());
            EXPECT_TRUE(out == neu) << cut;
        }
    }
    // A flipped byte (every one of the header and the stream's start): refused, or (a flip the models absorb) the exact file.
    for (size_t at = 0; at < delta.size(); at += 1 + at / 64) {
        Bytes damaged = delta;
        damaged[at] ^= uint8_t(1u << (at % 8));
        ErrorCode error = Apply(old, damaged, &out, Threads(at % 3));
        EXPECT_LE(out.size(), neu.size()) << at;
        if (!error) {
            EXPECT_TRUE(out == neu) << at;
        }
    }
    // Lying header fields.
    auto lie = [&](size_t field, uint32_t value) {
        Bytes damaged = delta;
        for (int i = 0; i < 4; ++i) damaged[field + i] = uint8_t(value >> (8 * i));
        return damaged;
    };
    EXPECT_EQ(ERR_WRONGBASE, Apply(old, lie(4, uint32_t(old.size() + 1)), &out));
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(ERR_BADRESULT, Apply(old, lie(16, Crc32(neu.data(), neu.size()) ^ 1), &out));
    if (GetParam() & kDeltaDigests) {
        // A source path the patch may not write, or cut short: refused
        // before anything is written, nothing read past the delta's end.
        const std::vector<Bytes> fields = {{0}, {5, '.', '.', '\\', 'x', 'y'}, {3, 'C', 'O', 'N'},
                                           {4, 'a', 0, 'b', 'c'}, {2, '\\', 'a'}, {3, 'a', '\x7F', 'b'}};
        for (size_t cut : {size_t(0), size_t(1)})
            for (const Bytes& field : fields) {
                Bytes damaged = delta;
                damaged[20] |= kDeltaSource;
                damaged.insert(damaged.begin() + kDeltaMaxHeaderSize, field.begin(), field.end());
                if (cut) damaged.resize(kDeltaMaxHeaderSize + field.size() - cut);
                EXPECT_EQ(ERR_BADDELTA, Apply(old, damaged, &out)) << field.size() << " " << cut;
                EXPECT_TRUE(out.empty());
            }
    }
    for (uint32_t flags : {4u, 5u, 0x100u, 0x80000001u, kDeltaSource | kDeltaRawLiterals, kDeltaBlake3 | kDeltaRawLiterals}) {
        EXPECT_EQ(ERR_BADDELTA, Apply(old, lie(20, flags), &out)) << flags;
        EXPECT_TRUE(out.empty());
    }
    for (uint32_t size : {0u, 1u, uint32_t(neu.size() - 1), uint32_t(neu.size() + 1), 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        EXPECT_NE(nullptr, Apply(old, lie(12, size), &out)) << size;
        EXPECT_LE(out.size(), std::min<size_t>(size, neu.size() + 1)) << size;
    }
    // Cut inside a long add of a large file and lying about the new size:
    // refused where the stream ends, not after decoding the rest from nothing.
    Bytes big = Program(3 << 20, 9), bigNew = big;
    ShiftAddresses(&bigNew, 0x10);
    Bytes bigDelta = EncodeDelta(big.data(), big.size(), bigNew.data(), bigNew.size(), 1, GetParam());
    bigDelta.resize(bigDelta.size() / 3);
    for (int i = 0; i < 4; ++i) bigDelta[12 + i] = 0xFF;
    EXPECT_EQ(ERR_BADDELTA, Apply(big, bigDelta, &out));
    EXPECT_LT(out.size(), bigNew.size() / 2);
    // The wrong old file of the right size: the result's CRC tells.
    Bytes other = old;
    other[old.size() / 2] ^= 0x55;
    EXPECT_NE(nullptr, Apply(other, delta, &out));
    // An old file edited where the delta copies it unchanged, four bytes
    // fixed up to keep its CRC-32: the edit passes through into a result
    // with the new CRC-32. Only the digest (SHA-256 or BLAKE3) tells, as it
    // tells damaged digest bytes.
    Bytes tail = old;
    std::fill(tail.end() - 100, tail.end(), uint8_t('x'));
    const Bytes tailDelta = EncodeDelta(old.data(), old.size(), tail.data(), tail.size(), 1, GetParam());
    Bytes forged = old;
    forged[1000] ^= 0x20;
    ForgeCrc32(&forged, 2000, Crc32(old.data(), old.size()));
    ASSERT_EQ(Crc32(old.data(), old.size()), Crc32(forged.data(), forged.size()));
    const ErrorCode forgedError = Apply(forged, tailDelta, &out);
    // The key: measured for what the header asks (its digest alone when it
    // carries digests), the old file matches and the forged one only
    // without digests, nor does it under a damaged key digest; a measure
    // lacking what the header asks never matches.
    DeltaHeader header;
    MemoryFile tailFile(tailDelta);
    ASSERT_EQ(nullptr, ReadDeltaHeader(&tailFile, &header));
    auto key = [&](const Bytes& bytes, unsigned measures) {
        MemoryFile file(bytes);
        DeltaContent content;
        uint8_t buffer[4096];
        EXPECT_EQ(nullptr, MeasureContent(&file, buffer, sizeof buffer, measures, &content));
        return IsDeltaOld(header, content);
    };
    const unsigned otherMeasure = (kMeasureCrc | kMeasureDigest | kMeasureBlake3) & ~MeasureFor(header);
    EXPECT_TRUE(key(old, MeasureFor(header)));
    EXPECT_FALSE(key(old, otherMeasure));
    EXPECT_EQ(!(GetParam() & kDeltaDigests), key(forged, MeasureFor(header)));
    if (GetParam() & kDeltaDigests) {
        EXPECT_STREQ(ERR_BADRESULT, forgedError);
        EXPECT_STREQ(ERR_BADRESULT, Apply(old, lie(kDeltaHeaderSize + kDeltaDigestSize + 5, 0x12345678), &out));
        MemoryFile damagedKey(lie(kDeltaHeaderSize + 5, 0x12345678));
        ASSERT_EQ(nullptr, ReadDeltaHeader(&damagedKey, &header));
        EXPECT_FALSE(key(old, MeasureFor(header)));
    } else {
        EXPECT_EQ(nullptr, forgedError);
        EXPECT_TRUE(out != tail && Crc32(out.data(), out.size()) == Crc32(tail.data(), tail.size()));
    }
    // A failing old file: its error, as given.
    MemoryFile oldFile(old), deltaFile(delta), outFile;
    oldFile.failReadAfter = 0;
    EXPECT_EQ(ERR_READFAIL, ApplyDelta(&oldFile, &deltaFile, &outFile));
}

INSTANTIATE_TEST_SUITE_P(Delta, DamagedDelta,
                         testing::Values(kStreams[0], kStreams[1], kStreams[2], kStreams[0] | kDeltaReferences,
                                         kStreams[2] | kDeltaReferences, kStreams[5]));

}  // namespace
