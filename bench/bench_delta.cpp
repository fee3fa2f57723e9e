// Driver of bench/delta.sh (a plain program, not a Google Benchmark one):
//   bench_delta encode OLD NEW DELTA [THREADS [plain]]  writes the delta and its container
//                                               (DELTA.lzss); prints "delta container";
//                                               plain: without predicted references
//   bench_delta store NEW CONTAINER             NEW's container, as a patch stores it whole
//   bench_delta copy CONTAINER OUT              the patcher's whole-file copy out of a container
//   bench_delta apply OLD DELTACONTAINER OUT    rebuilds OUT from OLD and the stored delta
//   bench_delta hpfs OLDPACK NEWPACK            a game pack and its next version: a few
//                                               entries rewritten, one inserted, one removed
//   bench_delta measure crc|sha|portable|blake cold|warm FILE...
//                                               the patcher's check of installed files
//                                               before the first change: size and CRC-32
//                                               (as before digests), SHA-256 as the patcher
//                                               took it, the same by the portable rounds,
//                                               or BLAKE3 as the patcher takes it today;
//                                               cold drops the files from the page cache
//                                               first; prints the seconds spent
// Files are reached through the disk layer as the patcher does (drive Q: is /).
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "Command.h"
#include "DeltaEncode.h"
#include "MemoryFile.h"
#include "PatchSources.h"
#include "ThreadWork.h"
#include "app/MeasureQueue.h"
#include "file/MountTable.h"
#include "TestData.h"
#include "hpfs/BlockFileWriter.h"
#include "hpfs/WritableBFHP.h"
#include "hpfs/WritableHPFS.h"
#include "payload/Delta.h"
#include "payload/DeltaContent.h"
#include "payload/LzssFile.h"
#include "payload/LzssFormat.h"
#include "payload/LzssWriter.h"
#include "platform/DiskFS.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Load(const char* path) {
    try {
        return ReadSourceFile(path);
    } catch (const ToolError& error) {
        std::fprintf(stderr, "%s\n", error.what());
        std::exit(2);
    }
}

void Save(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), long(bytes.size()));
}

Bytes Container(const Bytes& image) {
    MemoryFile file;
    if (CompressLzssImage(image.data(), uint32_t(image.size()), &file, kLzssPatchBlockSize, kLzssPatchBitLengths,
                          nullptr))
        std::exit(3);
    return file.data;
}

std::string HostPath(const char* path) {
    std::string p = std::string("Q:") + path;
    for (char& c : p)
        if (c == '/') c = '\\';
    return p;
}

CFile* OpenDisk(CDiskFS& disk, const char* path, uint16_t mode) {
    ErrorCode error = nullptr;
    CFile* file = disk.Open(HostPath(path).c_str(), mode, &error);
    if (!file) {
        std::fprintf(stderr, "open %s: %s\n", path, ErrorText(error));
        std::exit(2);
    }
    return file;
}

constexpr uint16_t kWriteMode = FM_READ | FM_WRITE | FM_CREATE | FM_TRUNCATE;

int Encode(int argc, char** argv) {
    Bytes old = Load(argv[2]), neu = Load(argv[3]);
    unsigned threads = argc > 5 ? unsigned(std::atoi(argv[5])) : 0;
    const bool plain = argc > 6 && std::string(argv[6]) == "plain";
    Bytes delta = EncodeDelta(old.data(), old.size(), neu.data(), neu.size(), threads,
                              kDeltaRawLiterals | kDeltaFastCoding | kDeltaSegments | (plain ? 0 : kDeltaReferences));
    Bytes stored = Container(delta);
    Save(argv[4], delta);
    Save(std::string(argv[4]) + ".lzss", stored);
    std::printf("%zu %zu\n", delta.size(), stored.size());
    return 0;
}

int Store(char** argv) {
    Save(argv[3], Container(Load(argv[2])));
    return 0;
}

int Copy(char** argv) {
    CDiskFS disk;
    CLzssFile source(OpenDisk(disk, argv[2], FM_READ), true);
    std::unique_ptr<CFile> out(OpenDisk(disk, argv[3], kWriteMode));
    Bytes buffer(32768);
    for (uint32_t remaining = source.GetSize(); remaining;) {
        uint32_t chunk = remaining < buffer.size() ? remaining : uint32_t(buffer.size());
        uint32_t got = 0, put = 0;
        if (source.Read(buffer.data(), chunk, &got) || got != chunk || out->Write(buffer.data(), chunk, &put))
            return 1;
        remaining -= chunk;
    }
    return out->Flush() ? 1 : 0;
}

// With "1" after the paths, on this thread alone.
int Apply(int argc, char** argv) {
    CDiskFS disk;
    std::unique_ptr<CFile> old(OpenDisk(disk, argv[2], FM_READ | FM_SHARE_READ)),
        secondOld(OpenDisk(disk, argv[2], FM_READ | FM_SHARE_READ));
    CLzssFile delta(OpenDisk(disk, argv[3], FM_READ), true);
    std::unique_ptr<CFile> out(OpenDisk(disk, argv[4], kWriteMode));
    const DeltaHelper helper{ToolThreads(), secondOld.get()};
    ErrorCode error = ApplyDelta(old.get(), &delta, out.get(), argc > 5 && argv[5][0] == '1' ? nullptr : &helper);
    if (!error) error = out->Flush();
    if (error) std::fprintf(stderr, "apply: %s\n", ErrorText(error));
    return error ? 1 : 0;
}

// Entries of a game pack: maps and models (records), scripts (text), sounds
// and textures (noise-like), in a few folders.
Bytes Entry(unsigned i, uint32_t generation) {
    size_t size = 20000 + (i * 7919u) % 400000;
    uint32_t seed = i * 31 + generation * 1000003;
    switch (i % 4) {
    case 0: return testdata::Binary(size, seed);
    case 1: return testdata::Text(size / 4, seed);
    case 2: return testdata::Random(size, seed);
    default: return testdata::Runs(size, seed);
    }
}

void Put(CHPFS& pack, unsigned i, uint32_t generation) {
    std::string name = "DATA" + std::to_string(i % 5) + "\\ENTRY" + std::to_string(i) + ".BIN";
    CFile* file = pack.Open(name.c_str(), kWriteMode, nullptr);
    Bytes bytes = Entry(i, generation);
    if (!file || file->Write(bytes.data(), uint32_t(bytes.size()), nullptr)) std::exit(4);
    delete file;
}

std::unique_ptr<CHPFS> OpenPack(CFile* file, bool fresh) {
    if (fresh && WriteEmptyBlockFile(file, 512, 8, 0xFFFFFFFF)) std::exit(4);
    auto* pool = new CWritableBFHP;
    if (pool->Attach(file)) std::exit(4);
    return std::make_unique<CWritableHPFS>(pool);
}

int Hpfs(char** argv) {
    constexpr unsigned kEntries = 120;
    CDiskFS disk;
    {
        auto pack = OpenPack(OpenDisk(disk, argv[2], kWriteMode), true);
        for (unsigned d = 0; d < 5; ++d) pack->MakeDirectory("", ("DATA" + std::to_string(d)).c_str());
        for (unsigned i = 0; i < kEntries; ++i) Put(*pack, i, 0);
    }
    Save(argv[3], Load(argv[2]));
    auto pack = OpenPack(OpenDisk(disk, argv[3], FM_READ | FM_WRITE), false);
    for (unsigned i : {3u, 17u, 50u, 91u}) Put(*pack, i, 1);
    std::string removed = "DATA0\\ENTRY60.BIN";
    if (pack->Delete(removed.c_str())) std::exit(4);
    Put(*pack, kEntries, 0);
    return 0;
}

uint32_t s_measureSum = 0;
void AddMeasure(QueuedFile* slot) {
    if (!slot->read) std::exit(1);
    s_measureSum ^= slot->content.crc ^ slot->content.digest[0] ^ slot->content.blake3[0];
}

// The patcher's check of the installed files that have deltas, timed from
// the first open to the last file measured: crc, the pass before digests
// (each file read once in 32 KB pieces for its size and CRC-32, one after
// another); sha and portable, the pass with SHA-256 deltas, blake the pass
// today (the files opened as the walk meets them and measured for their
// digest through the patcher's queue, on this thread and its helper thread).
int Measure(int argc, char** argv) {
    const std::string kind = argv[2];
    const bool cold = std::string(argv[3]) == "cold";
    if (kind == "portable") AllowSha256Extensions(false);
    if (cold) {
        sync();
        for (int i = 4; i < argc; ++i) {
            const int fd = open(argv[i], O_RDONLY);
            if (fd >= 0) posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED), close(fd);
        }
    }
    CDiskFS disk;
    // Mounted as the patcher mounts it: the queue opens a large file's second
    // handle by its path.
    if (FileLayerInit(8) || DiskFSInit()) return 1;
    static uint8_t buffer[32768];
    const auto start = std::chrono::steady_clock::now();
    if (kind == "crc") {
        for (int i = 4; i < argc; ++i) {
            std::unique_ptr<CFile> file(OpenDisk(disk, argv[i], FM_READ | FM_SHARE_READ));
            DeltaContent content;
            if (MeasureContent(file.get(), buffer, sizeof buffer, kMeasureCrc, &content)) return 1;
            s_measureSum ^= content.crc;
        }
    } else {
        CMeasureQueue queue(kind == "blake" ? kMeasureBlake3 : kMeasureDigest, AddMeasure);
        for (int i = 4; i < argc; ++i) {
            QueuedFile* slot = queue.Slot();
            slot->file = OpenDisk(disk, argv[i], FM_READ | FM_SHARE_READ);
            std::snprintf(slot->old, sizeof slot->old, "%s", HostPath(argv[i]).c_str());
            queue.Push();
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.6f %u\n", seconds, unsigned(s_measureSum & 1));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    setenv("W32_DRIVE_Q", "/", 1);
    std::string command = argc > 1 ? argv[1] : "";
    if (command == "encode" && argc >= 5) return Encode(argc, argv);
    if (command == "store" && argc == 4) return Store(argv);
    if (command == "copy" && argc == 4) return Copy(argv);
    if (command == "apply" && (argc == 5 || argc == 6)) return Apply(argc, argv);
    if (command == "hpfs" && argc == 4) return Hpfs(argv);
    if (command == "measure" && argc >= 5) return Measure(argc, argv);
    std::fprintf(stderr, "usage: bench_delta encode|copy|apply|hpfs|measure ...\n");
    return 2;
}
