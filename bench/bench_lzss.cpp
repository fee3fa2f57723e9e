// Throughput of the LZSS block coder and of CLzssFile reads, next to zlib
// (when found) and memcpy on the same 32 KiB blocks in the same run.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "MemoryFile.h"
#include "payload/LzssFile.h"
#include "payload/LzssFormat.h"
#include "payload/LzssWriter.h"
#include "payload/PatchCrc.h"

#if QP_HAVE_ZLIB
#include <zlib.h>
#endif

namespace {

constexpr uint32_t kBlock = 32768;
constexpr uint8_t kBits = kLzssPatchBitLengths;

std::vector<uint8_t> FileBytes(const char* path, long offset, size_t n) {
    std::vector<uint8_t> v(n);
    FILE* f = std::fopen(path, "rb");
    if (!f) return {};
    std::fseek(f, offset, SEEK_SET);
    size_t got = std::fread(v.data(), 1, n, f);
    std::fclose(f);
    if (got != n) return {};
    return v;
}

// English prose (a licence text when the system has one, else word salad).
std::vector<uint8_t> Text() {
    auto v = FileBytes("/usr/share/common-licenses/GPL-3", 0, kBlock);
    if (!v.empty()) return v;
    const char* words[] = {"the ", "program ", "of ", "and ", "to ", "a ", "license ", "work ", "you ", "in\n"};
    std::mt19937 rng(1);
    std::string s;
    while (s.size() < kBlock) s += words[rng() % 10];
    return std::vector<uint8_t>(s.begin(), s.begin() + kBlock);
}

// Machine code (this program's own image, past its headers).
std::vector<uint8_t> Binary() {
    auto v = FileBytes("/proc/self/exe", 0x11000, kBlock);
    if (!v.empty()) return v;
    std::mt19937 rng(2);
    v.resize(kBlock);
    for (size_t i = 0; i < kBlock; ++i) v[i] = (i % 7 < 3) ? uint8_t(rng() % 16) : uint8_t(0x8B + i % 5);
    return v;
}

std::vector<uint8_t> Random() {
    std::mt19937 rng(3);
    std::vector<uint8_t> v(kBlock);
    for (auto& b : v) b = uint8_t(rng());
    return v;
}

std::vector<uint8_t> Data(int kind) { return kind == 0 ? Text() : kind == 1 ? Binary() : Random(); }
const char* KindName(int kind) { return kind == 0 ? "text" : kind == 1 ? "binary" : "random"; }

std::vector<uint8_t> Encode(const std::vector<uint8_t>& in) {
    std::vector<uint8_t> out(LzssWorkBufferSize(kBlock));
    uint32_t length = uint32_t(out.size());
    EncodeBlock(in.data(), uint32_t(in.size()), out.data(), &length, kBits, nullptr);
    out.resize(length);
    return out;
}

void BM_DecodeBlock(benchmark::State& state) {
    auto data = Data(int(state.range(0)));
    auto stream = Encode(data);
    std::vector<uint8_t> out(kBlock);
    for (auto _ : state) {
        uint32_t length = kBlock;
        DecodeBlock(stream.data(), uint32_t(stream.size()), out.data(), &length, kBits);
        benchmark::DoNotOptimize(out.data());
    }
    if (out != data) state.SkipWithError("decoded bytes differ");
    state.SetLabel(KindName(int(state.range(0))));
    state.SetBytesProcessed(int64_t(state.iterations()) * kBlock);
}
BENCHMARK(BM_DecodeBlock)->DenseRange(0, 2);

void BM_EncodeBlock(benchmark::State& state) {
    auto data = Data(int(state.range(0)));
    std::vector<uint8_t> out(LzssWorkBufferSize(kBlock));
    uint32_t length = 0;
    for (auto _ : state) {
        length = uint32_t(out.size());
        EncodeBlock(data.data(), kBlock, out.data(), &length, kBits, nullptr);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetLabel(KindName(int(state.range(0))));
    state.counters["ratio"] = double(length) / kBlock;
    state.SetBytesProcessed(int64_t(state.iterations()) * kBlock);
}
BENCHMARK(BM_EncodeBlock)->DenseRange(0, 2);

void BM_Memcpy(benchmark::State& state) {
    auto data = Random();
    std::vector<uint8_t> out(kBlock);
    for (auto _ : state) {
        std::memcpy(out.data(), data.data(), kBlock);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kBlock);
}
BENCHMARK(BM_Memcpy);

// The checksum pass runs over every decoded byte of a patch: ours (with
// carry-less multiplication where the processor has it, and tables alone),
// next to zlib's when found.
void BM_Crc32(benchmark::State& state, uint32_t (*update)(uint32_t, const uint8_t*, uint32_t)) {
    auto data = Random();
    uint32_t crc = 0;
    for (auto _ : state) {
        crc = update(crc, data.data(), kBlock);
        benchmark::DoNotOptimize(crc);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kBlock);
}
BENCHMARK_CAPTURE(BM_Crc32, ours, [](uint32_t c, const uint8_t* p, uint32_t n) { return Crc32Update(c, p, n); });
BENCHMARK_CAPTURE(BM_Crc32, tables,
                  [](uint32_t c, const uint8_t* p, uint32_t n) { return Crc32UpdateByTables(c, p, n); });
#if QP_HAVE_ZLIB
BENCHMARK_CAPTURE(BM_Crc32, zlib, [](uint32_t c, const uint8_t* p, uint32_t n) { return uint32_t(crc32(c, p, n)); });
#endif

#if QP_HAVE_ZLIB
void BM_ZlibInflate(benchmark::State& state) {
    auto data = Data(int(state.range(0)));
    std::vector<uint8_t> packed(compressBound(kBlock));
    uLongf packedLength = packed.size();
    compress2(packed.data(), &packedLength, data.data(), kBlock, 6);
    std::vector<uint8_t> out(kBlock);
    z_stream z = {};
    inflateInit(&z);
    for (auto _ : state) {
        inflateReset(&z);
        z.next_in = packed.data();
        z.avail_in = uInt(packedLength);
        z.next_out = out.data();
        z.avail_out = kBlock;
        inflate(&z, Z_FINISH);
        benchmark::DoNotOptimize(out.data());
    }
    inflateEnd(&z);
    if (out != data) state.SkipWithError("inflated bytes differ");
    state.SetLabel(KindName(int(state.range(0))));
    state.SetBytesProcessed(int64_t(state.iterations()) * kBlock);
}
BENCHMARK(BM_ZlibInflate)->DenseRange(0, 2);


void BM_ZlibDeflate6(benchmark::State& state) {
    auto data = Data(int(state.range(0)));
    std::vector<uint8_t> out(compressBound(kBlock));
    z_stream z = {};
    deflateInit(&z, 6);
    uLong length = 0;
    for (auto _ : state) {
        deflateReset(&z);
        z.next_in = data.data();
        z.avail_in = kBlock;
        z.next_out = out.data();
        z.avail_out = uInt(out.size());
        deflate(&z, Z_FINISH);
        length = z.total_out;
        benchmark::DoNotOptimize(out.data());
    }
    deflateEnd(&z);
    state.SetLabel(KindName(int(state.range(0))));
    state.counters["ratio"] = double(length) / kBlock;
    state.SetBytesProcessed(int64_t(state.iterations()) * kBlock);
}
BENCHMARK(BM_ZlibDeflate6)->DenseRange(0, 2);
#endif

// A raw (incompressible) block loaded by CLzssFile: a copy out of the base.
void BM_LzssFileRawBlock(benchmark::State& state) {
    auto image = Random();
    auto second = Random();
    image.insert(image.end(), second.begin(), second.end());
    MemoryFile base;
    CompressLzssImage(image.data(), uint32_t(image.size()), &base, kBlock, kBits, nullptr);
    CLzssFile file(&base, false);
    int32_t block = 0;
    for (auto _ : state) {
        file.LoadBlock(block, true);
        block ^= 1;
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kBlock);
}
BENCHMARK(BM_LzssFileRawBlock);

// 4 MB of contents: prose, machine code and some incompressible blocks.
std::vector<uint8_t> FourMegabytes() {
    std::vector<uint8_t> image;
    auto text = Text(), binary = Binary(), random = Random();
    for (int k = 0; image.size() < 4u << 20; ++k) {
        const auto& part = k % 8 == 7 ? random : k % 2 ? binary : text;
        image.insert(image.end(), part.begin(), part.end());
        image.back() = uint8_t(k);
    }
    return image;
}

void ReadFourKiB(benchmark::State& state, bool random) {
    static const std::vector<uint8_t> image = FourMegabytes();
    MemoryFile base;
    CompressLzssImage(image.data(), uint32_t(image.size()), &base, kBlock, kBits, nullptr);
    CLzssFile file(&base, false);
    std::vector<uint8_t> buffer(4096);
    std::mt19937 rng(5);
    const uint32_t pages = uint32_t(image.size() / 4096);
    uint32_t page = 0;
    const int readsBefore = base.readCalls;
    for (auto _ : state) {
        page = random ? rng() % pages : (page + 1) % pages;
        uint32_t got = 0;
        file.ReadAt(buffer.data(), page * 4096, 4096, &got);
        benchmark::DoNotOptimize(buffer.data());
    }
    state.counters["blockLoadsPerRead"] = double(base.readCalls - readsBefore) / double(state.iterations());
    state.SetBytesProcessed(int64_t(state.iterations()) * 4096);
}
void BM_LzssFileSequential4K(benchmark::State& state) { ReadFourKiB(state, false); }
void BM_LzssFileRandom4K(benchmark::State& state) { ReadFourKiB(state, true); }
BENCHMARK(BM_LzssFileSequential4K);
BENCHMARK(BM_LzssFileRandom4K);

}  // namespace

BENCHMARK_MAIN();
