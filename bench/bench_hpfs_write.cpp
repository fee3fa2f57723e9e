// Writing a game pack of 3,000 files in 30 folders through CHPFS, then
// rewriting every file with new contents of other sizes, next to writing and
// rewriting the same tree as plain files through the disk file service. The
// pack lives in a disk file (the plain files' platform layer) and, for the
// library's own cost, in memory. Block size 512, pointer offset 8.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "MemoryFile.h"
#include "hpfs/BlockFileWriter.h"
#include "hpfs/WritableBFHP.h"
#include "hpfs/WritableHPFS.h"
#include "platform/DiskFS.h"

namespace {

constexpr int kFolders = 30;
constexpr int kFilesPerFolder = 100;
constexpr uint16_t kWriteMode = FM_READ | FM_WRITE | FM_CREATE | FM_TRUNCATE;

struct Item {
    std::string folder, path;  // path relative to the tree's root, '\' separated
    uint32_t size;
};

// Sizes as a game pack holds them: mostly small texts, some records, a few
// large files; the generation decides the sizes (a rewrite changes them).
std::vector<Item> Tree(uint32_t generation) {
    std::vector<Item> items;
    uint64_t state = 0x9E3779B97F4A7C15ULL * (generation + 1);
    auto next = [&] {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return uint32_t((state * 0x2545F4914F6CDD1DULL) >> 32);
    };
    for (int f = 0; f < kFolders; ++f) {
        std::string folder = "DIR" + std::to_string(f);
        for (int i = 0; i < kFilesPerFolder; ++i) {
            uint32_t kind = next() % 10, size = kind < 6 ? next() % 1024 : kind < 9 ? 1024 + next() % 7168 : 8192 + next() % 32768;
            items.push_back({folder, folder + "\\FILE" + std::to_string(i) + ".DAT", size});
        }
    }
    return items;
}

const std::vector<uint8_t>& Bytes() {
    static std::vector<uint8_t> bytes = [] {
        std::vector<uint8_t> b(41000);
        for (size_t i = 0; i < b.size(); ++i) b[i] = uint8_t(i * 131 + i / 7);
        return b;
    }();
    return bytes;
}

uint64_t TotalBytes(const std::vector<Item>& items) {
    uint64_t total = 0;
    for (const Item& item : items) total += item.size;
    return total;
}

// Writes every item through service below prefix; folders are made first.
void WriteTree(CFileService& service, const std::string& prefix, const std::vector<Item>& items, bool makeFolders) {
    if (makeFolders)
        for (int f = 0; f < kFolders; ++f) service.MakeDirectory(prefix.c_str(), ("DIR" + std::to_string(f)).c_str());
    for (const Item& item : items) {
        CFile* file = service.Open((prefix + item.path).c_str(), kWriteMode, nullptr);
        if (!file) std::abort();
        if (item.size && file->Write(Bytes().data(), item.size, nullptr)) std::abort();
        delete file;
    }
}

// A pack in a file the pool takes over; the service owns the pool.
std::unique_ptr<CHPFS> NewPack(CFile* file) {
    if (WriteEmptyBlockFile(file, 512, 8, 0xFFFFFFFF)) std::abort();
    auto* pool = new CWritableBFHP;
    if (pool->Attach(file)) std::abort();
    return std::make_unique<CWritableHPFS>(pool);
}

// A scratch folder mapped as drive Q: for the disk service.
struct Scratch {
    std::filesystem::path host;
    Scratch() {
        host = std::filesystem::temp_directory_path() / ("qp-bench-write-" + std::to_string(::getpid()));
        std::filesystem::create_directories(host);
        setenv("W32_DRIVE_Q", host.c_str(), 1);
    }
    ~Scratch() { std::filesystem::remove_all(host); }
    void Clear() {
        std::filesystem::remove_all(host);
        std::filesystem::create_directories(host);
    }
};

void Report(benchmark::State& state, const std::vector<Item>& items) {
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(items.size()));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(TotalBytes(items)));
}

void BM_WritePackInMemory(benchmark::State& state) {
    const std::vector<Item> items = Tree(0);
    for (auto _ : state) {
        auto* file = new MemoryFile;
        std::unique_ptr<CHPFS> pack = NewPack(file);
        WriteTree(*pack, "", items, true);
        pack.reset();  // flushes
    }
    Report(state, items);
}
BENCHMARK(BM_WritePackInMemory)->Unit(benchmark::kMillisecond);

// A file that hands its bytes back when the pool that owns it goes.
struct KeptFile : MemoryFile {
    explicit KeptFile(std::vector<uint8_t>* keep) : kept(keep) {}
    ~KeptFile() override { *kept = data; }
    std::vector<uint8_t>* kept;
};

void BM_RewritePackInMemory(benchmark::State& state) {
    const std::vector<Item> first = Tree(0), second = Tree(1);
    std::vector<uint8_t> written;
    {
        std::unique_ptr<CHPFS> pack = NewPack(new KeptFile(&written));
        WriteTree(*pack, "", first, true);
    }
    for (auto _ : state) {
        state.PauseTiming();
        auto* pool = new CWritableBFHP;
        if (pool->Attach(new MemoryFile(written))) std::abort();
        auto pack = std::make_unique<CWritableHPFS>(pool);
        state.ResumeTiming();
        WriteTree(*pack, "", second, false);
        pack.reset();
    }
    Report(state, second);
}
BENCHMARK(BM_RewritePackInMemory)->Unit(benchmark::kMillisecond);

void BM_WritePackOnDisk(benchmark::State& state) {
    Scratch scratch;
    CDiskFS disk;
    const std::vector<Item> items = Tree(0);
    for (auto _ : state) {
        CFile* file = disk.Open("Q:\\local.wdt", kWriteMode, nullptr);
        if (!file) std::abort();
        std::unique_ptr<CHPFS> pack = NewPack(file);
        WriteTree(*pack, "", items, true);
        pack.reset();
    }
    Report(state, items);
}
BENCHMARK(BM_WritePackOnDisk)->Unit(benchmark::kMillisecond);

void BM_RewritePackOnDisk(benchmark::State& state) {
    Scratch scratch;
    CDiskFS disk;
    const std::vector<Item> first = Tree(0), second = Tree(1);
    for (auto _ : state) {
        state.PauseTiming();
        {
            std::unique_ptr<CHPFS> pack = NewPack(disk.Open("Q:\\local.wdt", kWriteMode, nullptr));
            WriteTree(*pack, "", first, true);
        }
        CFile* file = disk.Open("Q:\\local.wdt", FM_READ | FM_WRITE, nullptr);
        auto* pool = new CWritableBFHP;
        if (!file || pool->Attach(file)) std::abort();
        auto pack = std::make_unique<CWritableHPFS>(pool);
        state.ResumeTiming();
        WriteTree(*pack, "", second, false);
        pack.reset();
    }
    Report(state, second);
}
BENCHMARK(BM_RewritePackOnDisk)->Unit(benchmark::kMillisecond);

void BM_WritePlainFiles(benchmark::State& state) {
    Scratch scratch;
    CDiskFS disk;
    const std::vector<Item> items = Tree(0);
    for (auto _ : state) {
        state.PauseTiming();
        scratch.Clear();
        state.ResumeTiming();
        WriteTree(disk, "Q:\\", items, true);
    }
    Report(state, items);
}
BENCHMARK(BM_WritePlainFiles)->Unit(benchmark::kMillisecond);

void BM_RewritePlainFiles(benchmark::State& state) {
    Scratch scratch;
    CDiskFS disk;
    const std::vector<Item> first = Tree(0), second = Tree(1);
    for (auto _ : state) {
        state.PauseTiming();
        scratch.Clear();
        WriteTree(disk, "Q:\\", first, true);
        state.ResumeTiming();
        WriteTree(disk, "Q:\\", second, false);
    }
    Report(state, second);
}
BENCHMARK(BM_RewritePlainFiles)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
