// Reading a 4 MB file through CHPFS next to reading the same bytes from the
// raw backing file, and resolving 10,000 paths in one directory with and
// without the directory cache.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "MemoryFile.h"
#include "hpfs/BlockFileWriter.h"
#include "hpfs/WritableBFHP.h"
#include "hpfs/WritableHPFS.h"

namespace {

constexpr uint32_t kFileSize = 4u << 20;
constexpr uint32_t kChunk = 32768;
constexpr int kPathCount = 10000;

struct Pack {
    MemoryFile* file = nullptr;
    std::unique_ptr<CHPFS> fs;

    explicit Pack(int files) {
        file = new MemoryFile;
        WriteEmptyBlockFile(file, 512, 8, 0xFFFFFFFF);
        auto* pool = new CWritableBFHP;
        pool->Attach(file);
        fs = std::make_unique<CWritableHPFS>(pool);
        fs->MakeDirectory("", "LOCAL");
        if (files == 0) {
            std::vector<uint8_t> data(kFileSize);
            for (uint32_t i = 0; i < kFileSize; ++i) data[i] = uint8_t(i * 131);
            CFile* f = fs->Open("LOCAL\\big.bin", FM_READ | FM_WRITE | FM_CREATE, nullptr);
            for (uint32_t at = 0; at < kFileSize; at += kChunk) f->Write(data.data() + at, kChunk, nullptr);
            delete f;
        }
        for (int i = 0; i < files; ++i) {
            CFile* f = fs->Open(("LOCAL\\file" + std::to_string(i) + ".ini").c_str(),
                                FM_READ | FM_WRITE | FM_CREATE, nullptr);
            delete f;
        }
        pool->Flush();
    }
};

void BM_ReadThroughHPFS(benchmark::State& state) {
    Pack pack(0);
    std::vector<uint8_t> buffer(kChunk);
    for (auto _ : state) {
        CFile* f = pack.fs->Open("LOCAL\\big.bin", FM_READ | FM_SHARE_READ, nullptr);
        uint32_t got = 0;
        while (!f->Read(buffer.data(), kChunk, &got) && got) benchmark::DoNotOptimize(buffer.data());
        delete f;
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kFileSize);
}
BENCHMARK(BM_ReadThroughHPFS)->Unit(benchmark::kMicrosecond);

void BM_ReadRawBackingFile(benchmark::State& state) {
    Pack pack(0);
    MemoryFile* raw = pack.file;
    std::vector<uint8_t> buffer(kChunk);
    for (auto _ : state) {
        // The same number of bytes, in the same pieces, straight from the file.
        for (uint32_t at = 0; at < kFileSize; at += kChunk) {
            raw->ReadAt(buffer.data(), 512 + at, kChunk, nullptr);
            benchmark::DoNotOptimize(buffer.data());
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kFileSize);
}
BENCHMARK(BM_ReadRawBackingFile)->Unit(benchmark::kMicrosecond);

void ResolvePaths(benchmark::State& state, bool cached) {
    Pack pack(kPathCount);
    pack.fs->EnableDirectoryCache(cached);
    std::vector<std::string> paths;
    for (int i = 0; i < kPathCount; ++i) paths.push_back("LOCAL\\file" + std::to_string(i) + ".ini");
    for (auto _ : state) {
        int found = 0;
        for (const std::string& path : paths) found += pack.fs->Exists(path.c_str());
        benchmark::DoNotOptimize(found);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kPathCount);
}

void BM_Resolve10000PathsCached(benchmark::State& state) { ResolvePaths(state, true); }
void BM_Resolve10000PathsUncached(benchmark::State& state) { ResolvePaths(state, false); }
BENCHMARK(BM_Resolve10000PathsCached)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Resolve10000PathsUncached)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
