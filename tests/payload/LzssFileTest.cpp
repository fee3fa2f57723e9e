#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "framework/LittleEndian.h"
#include "MemoryFile.h"
#include "SparseDiskFile.h"
#include "TestData.h"
#include "payload/LzssFile.h"
#include "payload/LzssWritableFile.h"
#include "payload/LzssWriter.h"
#include "payload/ReadAheadFile.h"

namespace {

std::vector<uint8_t> Container(const std::vector<uint8_t>& image, uint32_t blockSize = 32768, uint8_t bits = 0xC4) {
    MemoryFile file;
    EXPECT_EQ(nullptr, CompressLzssImage(image.data(), uint32_t(image.size()), &file, blockSize, bits, nullptr));
    return file.data;
}

std::vector<uint8_t> ReadAll(CLzssFile& file) {
    std::vector<uint8_t> out(file.GetSize());
    uint32_t got = 0;
    EXPECT_EQ(nullptr, file.ReadAt(out.data(), 0, uint32_t(out.size()), &got));
    EXPECT_EQ(out.size(), got);
    return out;
}

using testdata::Le32;
void SetLe32(std::vector<uint8_t>& v, size_t at, uint32_t value) { StoreU32(v.data() + at, value); }

// Mixed contents: text, binary, random and zero stretches across blocks.
std::vector<uint8_t> Mixed(size_t n) {
    std::vector<uint8_t> v = testdata::Text(n / 3, 1);
    auto b = testdata::Binary(n / 3, 2);
    v.insert(v.end(), b.begin(), b.end());
    auto r = testdata::Random(n / 6, 3);
    v.insert(v.end(), r.begin(), r.end());
    v.resize(n, 0);
    return v;
}

TEST(LzssFile, OpensTheWritersContainerAndReportsItsLayout) {
    auto image = Mixed(200000);
    MemoryFile base(Container(image));
    CLzssFile file(&base, false);
    ASSERT_TRUE(file.isOpen);
    EXPECT_EQ(file.className, file.GetClassName());
    EXPECT_EQ(&file, file.IsKindOf(CLzssFile::className));
    EXPECT_EQ(&file, file.IsKindOf(CFile::className));
    EXPECT_EQ(200000u, file.GetSize());
    EXPECT_EQ(7u, file.BlockCount());
    EXPECT_EQ(14u + 4 * 7, file.BlockOffset(0));
    EXPECT_EQ(base.data.size(), file.BlockOffset(7));
    EXPECT_EQ(image, ReadAll(file));
    // The patcher's reader refuses to change the container.
    const auto before = base.data;
    uint32_t put = 99;
    EXPECT_EQ(ERR_NOTIMPLEMENTED, file.Write("x", 1, &put));
    EXPECT_EQ(0u, put);
    EXPECT_EQ(ERR_NOTIMPLEMENTED, file.Truncate());
    EXPECT_EQ(ERR_NOTIMPLEMENTED, file.Flush());
    EXPECT_EQ(before, base.data);
}

TEST(LzssFile, RandomReadsAcrossBlockBoundariesMatchTheSource) {
    auto image = Mixed(300000);
    for (uint32_t blockSize : {32768u, 1000u, 4097u}) {
        MemoryFile base(Container(image, blockSize, 0xB3));
        CLzssFile file(&base, false);
        ASSERT_TRUE(file.isOpen);
        std::mt19937 rng(blockSize);
        for (int i = 0; i < 300; ++i) {
            uint32_t at = rng() % 300000, n = rng() % 70000;
            std::vector<uint8_t> got(n);
            uint32_t count = 0;
            ASSERT_EQ(nullptr, file.ReadAt(got.data(), at, n, &count));
            ASSERT_EQ(std::min<uint32_t>(n, 300000 - at), count);
            ASSERT_EQ(0, std::memcmp(got.data(), image.data() + at, count));
            EXPECT_EQ(at + count, file.Tell());
        }
    }
}

TEST(LzssFile, ReadsAtAndPastTheEnd) {
    MemoryFile base(Container(testdata::Text(1000, 1)));
    CLzssFile file(&base, false);
    uint8_t buffer[16];
    uint32_t got = 99;
    file.Seek(990, ORIGIN_BEGIN);
    EXPECT_EQ(ERR_EOF, file.Read(buffer, 16, nullptr));  // short without a count
    EXPECT_EQ(nullptr, file.Read(buffer, 16, &got));
    EXPECT_EQ(10u, got);
    EXPECT_EQ(nullptr, file.Read(buffer, 16, &got));  // at the very end: success, nothing
    EXPECT_EQ(0u, got);
    file.Seek(2000, ORIGIN_BEGIN);
    EXPECT_EQ(ERR_EOF, file.Read(buffer, 1, &got));
    EXPECT_EQ(0u, got);
    // Seeks: negative results are position 0, origin 2 adds to the size.
    file.Seek(-5, ORIGIN_BEGIN);
    EXPECT_EQ(0u, file.Tell());
    file.Seek(-10, ORIGIN_END);
    EXPECT_EQ(990u, file.Tell());
    file.Seek(-2000, ORIGIN_CURRENT);
    EXPECT_EQ(0u, file.Tell());
    file.Seek(7, 9);
    EXPECT_EQ(0u, file.Tell());
}

TEST(LzssFile, EmptyContainerHasOneBlockAndGrowsByWriting) {
    MemoryFile base;
    ASSERT_EQ(nullptr, CreateLzssContainer(&base, 32768, 0xC4));
    EXPECT_EQ(18u, base.data.size());
    {
        CWritableLzssFile file(&base, false);
        ASSERT_TRUE(file.isOpen);
        EXPECT_EQ(1u, file.BlockCount());
        uint8_t byte;
        uint32_t got = 5;
        EXPECT_EQ(nullptr, file.Read(&byte, 1, &got));
        EXPECT_EQ(0u, got);
        EXPECT_EQ(ERR_EOF, file.Read(&byte, 1, nullptr));
        auto text = testdata::Text(100000, 4);
        EXPECT_EQ(nullptr, file.Write(text.data(), uint32_t(text.size()), &got));
        EXPECT_EQ(100000u, got);
    }
    CLzssFile reopened(&base, false);
    ASSERT_TRUE(reopened.isOpen);
    EXPECT_EQ(testdata::Text(100000, 4), ReadAll(reopened));
    EXPECT_LT(base.data.size(), 60000u);
}

TEST(LzssFile, RandomWritesSeeksAndResizesMatchAByteModel) {
    for (uint32_t seed = 1; seed <= 4; ++seed) {
        const uint32_t blockSize = seed % 2 ? 4096 : 1000;
        const uint8_t bits = seed <= 2 ? 0xC4 : 0xA2;
        std::vector<uint8_t> model = Mixed(20000);
        MemoryFile base(Container(model, blockSize, bits));
        std::mt19937 rng(seed);
        {
            CWritableLzssFile file(&base, false);
            ASSERT_TRUE(file.isOpen);
            uint32_t position = 0;
            for (int step = 0; step < 400; ++step) {
                switch (rng() % 6) {
                case 0: case 1: case 2: {  // write, sometimes past the end
                    uint32_t n = rng() % 6000;
                    auto bytes = (rng() % 2) ? testdata::Text(n, rng()) : testdata::Random(n, rng());
                    uint32_t put = 0;
                    ASSERT_EQ(nullptr, file.Write(bytes.data(), n, &put));
                    ASSERT_EQ(n, put);
                    if (position + n > model.size()) model.resize(position + n, 0);
                    std::copy(bytes.begin(), bytes.end(), model.begin() + position);
                    position += n;
                    break;
                }
                case 3: {  // seek, sometimes past the end
                    position = rng() % uint32_t(model.size() + 3000);
                    file.Seek(int32_t(position), ORIGIN_BEGIN);
                    break;
                }
                case 4: {  // resize
                    uint32_t size = rng() % 40000;
                    ASSERT_EQ(nullptr, file.SetSize(size));
                    model.resize(size, 0);
                    break;
                }
                default: {  // read back somewhere
                    uint32_t at = rng() % uint32_t(model.size() + 1), n = rng() % 5000, got = 0;
                    std::vector<uint8_t> bytes(n);
                    ASSERT_EQ(nullptr, file.ReadAt(bytes.data(), at, n, &got));
                    ASSERT_EQ(std::min<size_t>(n, model.size() - at), got);
                    ASSERT_EQ(0, std::memcmp(bytes.data(), model.data() + at, got));
                    file.Seek(int32_t(position), ORIGIN_BEGIN);
                    break;
                }
                }
                ASSERT_EQ(model.size(), file.GetSize());
                if (step % 97 == 0) {
                    ASSERT_EQ(nullptr, file.Flush());
                }
            }
            ASSERT_EQ(nullptr, file.Flush());
        }
        CLzssFile reopened(&base, false);
        ASSERT_TRUE(reopened.isOpen);
        EXPECT_EQ(model, ReadAll(reopened)) << "seed " << seed;
        // The stored layout is tight: the blocks end where the base ends.
        EXPECT_EQ(base.data.size(), reopened.BlockOffset(reopened.BlockCount()));
        EXPECT_EQ(14u + 4 * reopened.BlockCount(), reopened.BlockOffset(0));
    }
}

TEST(LzssFile, WholeBlockWriteDoesNotReadTheOldBlockButAPartialOneDoes) {
    auto image = testdata::Text(65536, 2);
    MemoryFile base(Container(image));
    CWritableLzssFile file(&base, false);
    ASSERT_TRUE(file.isOpen);
    const int readsBefore = base.readCalls;
    std::vector<uint8_t> block(32768, 'z');
    file.Seek(32768, ORIGIN_BEGIN);
    ASSERT_EQ(nullptr, file.Write(block.data(), 32768, nullptr));
    EXPECT_EQ(readsBefore, base.readCalls);
    file.Seek(10, ORIGIN_BEGIN);
    ASSERT_EQ(nullptr, file.Write(block.data(), 5, nullptr));
    EXPECT_GT(base.readCalls, readsBefore);
}

TEST(LzssFile, ZeroLengthAndShortRawBlocks) {
    // A compressed block of stored length 0 reads as zeros; a raw last block
    // longer than its contents but not than the block size reads its contents.
    std::vector<uint8_t> c(14 + 8);
    std::memcpy(c.data(), "LZSS", 4);
    SetLe32(c, 4, 40000);
    SetLe32(c, 8, 32768);
    c[12] = 0xC4;
    SetLe32(c, 14, 22);
    SetLe32(c, 18, 22);
    std::vector<uint8_t> raw = testdata::Random(9000, 5);  // last block holds 40000 - 32768 = 7232 bytes
    c.insert(c.end(), raw.begin(), raw.end());
    MemoryFile base(c);
    CLzssFile file(&base, false);
    ASSERT_TRUE(file.isOpen);
    auto all = ReadAll(file);
    EXPECT_EQ(std::vector<uint8_t>(32768, 0), std::vector<uint8_t>(all.begin(), all.begin() + 32768));
    EXPECT_EQ(0, std::memcmp(all.data() + 32768, raw.data(), 7232));
}

std::vector<uint8_t> SmallContainer() { return Container(Mixed(100000), 32768, 0xC4); }

TEST(LzssFile, MalformedHeadersLeaveTheObjectUnopened) {
    auto good = SmallContainer();
    auto noMagic = good;
    noMagic[0] = 'X';
    auto zeroBlocks = good;
    SetLe32(zeroBlocks, 8, 0);
    auto hugeBlocks = good;
    SetLe32(hugeBlocks, 8, 0x80000000u);
    auto tableTooLong = good;
    SetLe32(tableTooLong, 4, 0xFFFFFFFFu);
    SetLe32(tableTooLong, 8, 1);
    auto shortHeader = std::vector<uint8_t>(good.begin(), good.begin() + 10);
    for (auto* bytes : {&noMagic, &zeroBlocks, &hugeBlocks, &tableTooLong, &shortHeader}) {
        MemoryFile base(*bytes);
        CWritableLzssFile file(&base, false);
        EXPECT_FALSE(file.isOpen);
        // Whatever the header claims, an unopened file has nothing to give
        // (a block size of 0 once divided by zero here) and takes nothing.
        EXPECT_EQ(0u, file.GetSize());
        uint8_t buffer[16] = {};
        uint32_t count = 99;
        EXPECT_NE(nullptr, file.Read(buffer, sizeof buffer, &count));
        EXPECT_EQ(0u, count);
        EXPECT_NE(nullptr, file.ReadAt(buffer, 100, sizeof buffer, &count));
        EXPECT_NE(nullptr, file.Write(buffer, sizeof buffer, &count));
        EXPECT_EQ(0u, count);
        EXPECT_NE(nullptr, file.SetSize(40));
        EXPECT_EQ(nullptr, file.Seek(0, ORIGIN_END));
        EXPECT_EQ(0u, file.Tell());
        EXPECT_EQ(*bytes, base.data) << "an unopened container is never written";
    }
    MemoryFile base(good);
    base.failReadAfter = 1;  // header read works, table read fails
    CLzssFile file(&base, false);
    EXPECT_FALSE(file.isOpen);
}

TEST(LzssFile, MalformedBlocksAreRefusedWithInvalidFormat) {
    auto good = SmallContainer();
    uint8_t buffer[100];
    auto readAt = [&](std::vector<uint8_t> bytes, uint32_t at) {
        MemoryFile base(bytes);
        CLzssFile file(&base, false);
        EXPECT_TRUE(file.isOpen);
        uint32_t got = 0;
        return file.ReadAt(buffer, at, sizeof buffer, &got);
    };
    auto backwards = good;
    SetLe32(backwards, 18, Le32(good, 14) - 1);  // block 1 starts before block 0
    EXPECT_EQ(ERR_INVALIDFORMAT, readAt(backwards, 0));
    EXPECT_EQ(ERR_INVALIDFORMAT, readAt(backwards, 32768));
    auto outside = good;
    SetLe32(outside, 22, uint32_t(good.size()) + 10);  // block 2 starts past the end
    EXPECT_EQ(ERR_INVALIDFORMAT, readAt(outside, 65536));
    EXPECT_EQ(nullptr, readAt(outside, 0));  // the other blocks stay readable
    auto intoHeader = good;
    SetLe32(intoHeader, 14, 3);
    EXPECT_EQ(ERR_INVALIDFORMAT, readAt(intoHeader, 0));
    auto bitLengths = good;
    bitLengths[12] = 0xC6;
    EXPECT_EQ(ERR_NOSUCHBITLENGTHS, readAt(bitLengths, 0));
    // A raw block longer than the block size.
    std::vector<uint8_t> rawTooLong(18);
    std::memcpy(rawTooLong.data(), "LZSS", 4);
    SetLe32(rawTooLong, 4, 10);
    SetLe32(rawTooLong, 8, 16);
    rawTooLong[12] = 0xC4;
    SetLe32(rawTooLong, 14, 18);
    rawTooLong.resize(18 + 17, 'r');
    EXPECT_EQ(ERR_INVALIDFORMAT, readAt(rawTooLong, 0));
    // A corrupted stream (a copy from before the block) in block 1.
    auto stream = good;
    stream[Le32(good, 18)] = 0x7F;  // first token: a match of distance 1
    stream[Le32(good, 18) + 1] = 0xFF;
    EXPECT_EQ(ERR_INVALIDFORMAT, readAt(stream, 32768));
}

TEST(LzssFile, AFailedLoadDropsTheCurrentBlock) {
    auto good = SmallContainer();
    auto broken = good;
    broken[Le32(good, 18)] = 0x7F;
    broken[Le32(good, 18) + 1] = 0xFF;
    MemoryFile base(broken);
    CWritableLzssFile file(&base, false);
    std::vector<uint8_t> first(100), again(100);
    ASSERT_EQ(nullptr, file.ReadAt(first.data(), 0, 100, nullptr));
    EXPECT_EQ(ERR_INVALIDFORMAT, file.ReadAt(again.data(), 32768, 100, nullptr));
    // Block 0's bytes were overwritten by the failed decode: it must be read again.
    ASSERT_EQ(nullptr, file.ReadAt(again.data(), 0, 100, nullptr));
    EXPECT_EQ(first, again);
}

// Threads for the read-ahead file: real ones, counted, or none at all.
std::atomic<int> g_ThreadsStarted{0};
void* StartCountedThread(void (*work)(void*), void* argument) {
    ++g_ThreadsStarted;
    return new std::thread(work, argument);
}
void JoinCountedThread(void* started) {
    auto* thread = static_cast<std::thread*>(started);
    thread->join();
    delete thread;
}
void* NoThread(void (*)(void*), void*) { return nullptr; }

// Every read of a walk over the file: front to back in pieces of varying
// sizes (with and without a count), then jumps back and ahead; each read's
// result, count, position after it and, when it succeeded, its bytes.
std::vector<std::string> ReadTrace(CFile& file, uint32_t seed) {
    std::vector<std::string> trace;
    std::mt19937 rng(seed);
    auto read = [&](uint32_t at, uint32_t n, bool counted) {
        std::string bytes(n, '\0');
        uint32_t got = 12345;
        file.Seek(int32_t(at), ORIGIN_BEGIN);
        ErrorCode error = file.Read(&bytes[0], n, counted ? &got : nullptr);
        std::string line = std::string(error ? error : "ok") + " " + std::to_string(counted ? got : 0) + " " +
                           std::to_string(file.Tell());
        if (!error) line += " " + bytes.substr(0, counted ? got : n);
        trace.push_back(line);
    };
    const uint32_t size = file.GetSize();
    for (uint32_t at = 0; at < size + 10;) {
        const uint32_t n = 1 + rng() % 70000;
        read(at, n, rng() % 2);
        at += n;
    }
    for (int jump = 0; jump < 40; ++jump) read(rng() % (size + 100), rng() % 40000, rng() % 2);
    return trace;
}

TEST(LzssFile, ReadingAheadOnAHelperThreadReadsAsTheContainerDoes) {
    const auto image = Mixed(1200000);  // 37 blocks: more than two spans ahead
    const auto good = Container(image);
    std::vector<std::vector<uint8_t>> cases = {good};
    const uint32_t count = LzssBlockCount(uint32_t(image.size()), 32768);
    for (uint32_t k : {3u, 17u, 16u, 31u}) {  // a stream reaching before its block, in either span
        auto spoiled = good;
        spoiled[Le32(good, 14 + 4 * k)] = 0x7F;
        spoiled[Le32(good, 14 + 4 * k) + 1] = 0xFF;
        cases.push_back(spoiled);
    }
    for (size_t end : {good.size() / 2, size_t(Le32(good, 14 + 4 * 20) + 100), size_t(14 + 4 * count + 5)})
        cases.emplace_back(good.begin(), good.begin() + std::ptrdiff_t(end));  // cut short
    auto lying = good;
    SetLe32(lying, 14 + 4 * 18, Le32(good, 14 + 4 * 19) + 7);  // block 18 ends before it starts
    cases.push_back(lying);
    std::mt19937 rng(99);
    for (int flip = 0; flip < 12; ++flip) {
        auto flipped = good;
        flipped[14 + rng() % (flipped.size() - 14)] ^= uint8_t(1 + rng() % 255);
        cases.push_back(flipped);
    }
    g_ThreadsStarted = 0;
    for (size_t c = 0; c < cases.size(); ++c) {
        for (auto start : {StartCountedThread, NoThread}) {
            MemoryFile plainBase(cases[c]), aheadBase(cases[c]);
            CLzssFile plain(&plainBase, false), contents(&aheadBase, false);
            ASSERT_EQ(plain.isOpen, contents.isOpen);
            if (!plain.isOpen) continue;
            CReadAheadFile ahead(&contents, HelperThreads{start, JoinCountedThread});
            ASSERT_TRUE(ahead.isOpen);
            EXPECT_EQ(ReadTrace(plain, uint32_t(c)), ReadTrace(ahead, uint32_t(c))) << "case " << c;
            EXPECT_EQ(ERR_NOTIMPLEMENTED, ahead.Write("x", 1, nullptr));
            EXPECT_EQ(cases[c], aheadBase.data) << "the container is only read";
        }
    }
    EXPECT_GT(g_ThreadsStarted.load(), 10) << "the blocks were read ahead on helper threads";
}

TEST(LzssFile, WriteBackErrorsKeepTheBlockDirtyAndAreReported) {
    MemoryFile base(SmallContainer());
    CWritableLzssFile file(&base, false);
    std::vector<uint8_t> bytes(10, 'w');
    ASSERT_EQ(nullptr, file.WriteAt(bytes.data(), 5, 10, nullptr));
    base.failWriteAfter = 0;
    EXPECT_EQ(ERR_WRITEFAIL, file.Flush());
    base.failWriteAfter = -1;
    EXPECT_EQ(nullptr, file.Flush());
    CLzssFile reopened(&base, false);
    std::vector<uint8_t> back(10);
    ASSERT_EQ(nullptr, reopened.ReadAt(back.data(), 5, 10, nullptr));
    EXPECT_EQ(bytes, back);
}

TEST(LzssFile, DestroyingAnOwningFileFlushesAndDestroysTheBase) {
    struct Tracked : MemoryFile {
        explicit Tracked(std::vector<uint8_t> v, std::vector<uint8_t>* out) : MemoryFile(std::move(v)), sink(out) {}
        ~Tracked() override { *sink = data; }
        std::vector<uint8_t>* sink;
    };
    std::vector<uint8_t> final;
    auto* file = new CWritableLzssFile(new Tracked(SmallContainer(), &final), true);
    ASSERT_TRUE(file->isOpen);
    ASSERT_EQ(nullptr, file->SetSize(5));
    delete file;
    MemoryFile reopenedBase(final);
    CLzssFile reopened(&reopenedBase, false);
    EXPECT_EQ(5u, reopened.GetSize());
    auto image = Mixed(100000);
    EXPECT_EQ(std::vector<uint8_t>(image.begin(), image.begin() + 5), ReadAll(reopened));
}

TEST(LzssWriter, RefusesBadParameters) {
    MemoryFile target;
    EXPECT_EQ(ERR_BADPARAMS, CreateLzssContainer(&target, 0, 0xC4));
    EXPECT_EQ(ERR_BADPARAMS, CreateLzssContainer(&target, kLzssMaxBlockSize + 1, 0xC4));
    EXPECT_EQ(ERR_NOSUCHBITLENGTHS, CreateLzssContainer(&target, 32768, 0xC6));
    uint8_t byte = 0;
    EXPECT_EQ(ERR_NOSUCHBITLENGTHS, CompressLzssImage(&byte, 1, &target, 32768, 0x00, nullptr));
    EXPECT_TRUE(target.data.empty());
}

TEST(LzssWriter, StoresIncompressibleBlocksRawAndTheRestCompressed) {
    auto image = testdata::Random(32768, 1);
    auto text = testdata::Text(32768, 1);
    image.insert(image.end(), text.begin(), text.end());
    MemoryFile target;
    uint32_t size = 0;
    ASSERT_EQ(nullptr, CompressLzssImage(image.data(), uint32_t(image.size()), &target, 32768, 0xC4, &size));
    EXPECT_EQ(target.data.size(), size);
    EXPECT_EQ(32768u, Le32(target.data, 18) - Le32(target.data, 14));  // raw
    EXPECT_LT(size - Le32(target.data, 18), 16384u);                    // compressed
}

// A container of raw blocks built directly in a sparse disk file: 3 GiB of
// contents stored past 2 GiB of the base.
class LzssFileLarge : public SparseDir {
protected:
    static constexpr uint32_t kSize = 0xC0000064u;  // 3 GiB + 100: 98305 blocks, the last of 100 bytes
    static constexpr uint32_t kCount = 98305;
    static constexpr uint64_t kDataStart = 14 + 4ull * kCount;

    // Content position p lies at kDataStart + p of the file.
    std::filesystem::path RawContainer(std::initializer_list<std::pair<uint32_t, const char*>> marks) {
        const auto path = MakeSparse("container", kDataStart + kSize);
        std::vector<uint8_t> head(kDataStart);
        std::memcpy(head.data(), "LZSS", 4);
        SetLe32(head, 4, kSize);
        SetLe32(head, 8, 0x8000);
        head[12] = 0xC4;
        for (uint32_t k = 0; k < kCount; ++k) SetLe32(head, 14 + 4 * k, uint32_t(kDataStart) + k * 0x8000);
        Poke(path, 0, head.data(), head.size());
        for (const auto& mark : marks) Poke(path, kDataStart + mark.first, mark.second, 4);
        return path;
    }

    static std::string At(CFile& file, uint32_t position) {
        char bytes[5] = {};
        EXPECT_EQ(file.ReadAt(bytes, position, 4, nullptr), nullptr) << position;
        return bytes;
    }
};

TEST_F(LzssFileLarge, ReadsAndRewritesBlocksPast2GiB) {
    const auto path = RawContainer({{0x7FFFFFFEu, "acro"}, {0xBFFF8010u, "near"}, {0xC0000060u, "last"}});
    {
        CWritableLzssFile file(OpenDisk(path).release(), true);
        ASSERT_TRUE(file.isOpen);
        EXPECT_EQ(file.GetSize(), kSize);
        EXPECT_EQ(At(file, 0x7FFFFFFEu), "acro");
        EXPECT_EQ(At(file, 0xBFFF8010u), "near");
        EXPECT_EQ(At(file, 0xC0000060u), "last");
        // The next-to-last block, rewritten, is stored compressed; the last
        // one moves down behind it and the base is cut there.
        EXPECT_EQ(file.WriteAt("new!", 0xBFFF8020u, 4, nullptr), nullptr);
        EXPECT_EQ(file.Flush(), nullptr);
        EXPECT_LT(file.BlockOffset(kCount) - file.BlockOffset(kCount - 2), 0x8000u);
    }
    EXPECT_LT(std::filesystem::file_size(path), kDataStart + kSize - 0x4000);
    CLzssFile again(OpenDisk(path, false).release(), true);
    ASSERT_TRUE(again.isOpen);
    EXPECT_EQ(At(again, 0x7FFFFFFEu), "acro");
    EXPECT_EQ(At(again, 0xBFFF8010u), "near");
    EXPECT_EQ(At(again, 0xBFFF8020u), "new!");
    EXPECT_EQ(At(again, 0xBFFFFFFCu), std::string());  // zeros to the block's end
    ASSERT_EQ(again.Seek(-4, ORIGIN_END), nullptr);
    EXPECT_EQ(again.Tell(), 0xC0000060u);
    char bytes[5] = {};
    EXPECT_EQ(again.Read(bytes, 4, nullptr), nullptr);
    EXPECT_STREQ(bytes, "last");
}

// A block that changes length moves every stored byte behind it, however
// many: here 3 GiB, which the base is only asked to move (not moved).
TEST_F(LzssFileLarge, AChangedBlockMovesTheWholeTailBehindIt) {
    struct TailRecorder : CFile {
        explicit TailRecorder(CFile* disk) : CFile(disk, true) { isOpen = true; }
        ErrorCode Read(void* b, uint32_t n, uint32_t* got) override { return base->Read(b, n, got); }
        ErrorCode Write(const void* b, uint32_t n, uint32_t* put) override { return base->Write(b, n, put); }
        ErrorCode Seek(int32_t offset, int16_t origin) override { return base->Seek(offset, origin); }
        uint32_t GetSize() override { return base->GetSize(); }
        uint32_t Tell() override { return base->Tell(); }
        ErrorCode Truncate() override { return base->Truncate(); }
        ErrorCode CopyRange(uint32_t to, uint32_t from, uint32_t length, uint32_t, void*) override {
            moved = std::min<uint64_t>(length, GetSize() - from);
            EXPECT_LT(to, from);
            return nullptr;
        }
        uint64_t moved = 0;
    };
    const auto path = RawContainer({});
    auto* recorder = new TailRecorder(OpenDisk(path).release());
    CWritableLzssFile file(recorder, true);
    ASSERT_TRUE(file.isOpen);
    EXPECT_EQ(file.WriteAt("x", 5, 1, nullptr), nullptr);
    EXPECT_EQ(file.Flush(), nullptr);
    EXPECT_EQ(recorder->moved, uint64_t(kSize) - 0x8000);
}

}  // namespace
