#include "payload/PatchIntegrity.h"

#include "framework/LittleEndian.h"

#include <cstring>

#include "payload/LzssFormat.h"
#include "pools/DefaultPools.h"

namespace {

bool Fail(IntegrityFault* fault, const char* what, uint32_t offset, uint32_t block = kNoBlock, bool inPack = false) {
    fault->what = what;
    fault->offset = offset;
    fault->block = block;
    fault->inPack = inPack;
    return false;
}

// The most bytes a stream of stored bytes can decode to: the densest token
// (16 bits for 33 bytes) everywhere, and one more token in the last byte.
uint64_t MostDecodedBytes(uint32_t stored) { return uint64_t(stored) * 33 / 2 + 33; }

struct PoolBlock {
    explicit PoolBlock(uint64_t size) : bytes(size <= 0xFFFFFFFFu ? static_cast<uint8_t*>(g_pDefaultPtrPool->Alloc(uint32_t(size ? size : 1))) : nullptr) {}
    ~PoolBlock() { g_pDefaultPtrPool->Free(bytes); }
    PoolBlock(const PoolBlock&) = delete;
    PoolBlock& operator=(const PoolBlock&) = delete;
    uint8_t* bytes;
};

struct CrcSink {
    uint32_t covered;
    uint32_t crc = 0;
    uint64_t length = 0;  // bytes summed
};

void AddToCrc(void* context, uint32_t imageOffset, const uint8_t* bytes, uint32_t length) {
    auto* sink = static_cast<CrcSink*>(context);
    if (imageOffset >= sink->covered) return;
    const uint32_t take = sink->covered - imageOffset < length ? sink->covered - imageOffset : length;
    sink->crc = Crc32Update(sink->crc, bytes, take);
    sink->length += take;
}

// One range of blocks walked into its own CRC.
struct CrcWalk {
    CFile* container;
    uint32_t firstBlock, endBlock;
    CrcSink sink;
    IntegrityFault fault;
    bool sound;
};

void RunCrcWalk(void* argument) {
    auto* walk = static_cast<CrcWalk*>(argument);
    walk->sound = WalkContainerStrictly(walk->container, AddToCrc, &walk->sink, &walk->fault, walk->firstBlock,
                                        walk->endBlock);
}

// The block count of a container whose header is sound enough to split it; 0 otherwise.
uint32_t SplittableBlocks(CFile* container) {
    uint8_t header[kLzssHeaderSize];
    if (container->GetSize() < kLzssHeaderSize || ReadExactly(container, 0, header, kLzssHeaderSize) ||
        std::memcmp(header, kLzssMagic, 4) != 0)
        return 0;
    const uint32_t blockSize = LoadU32(header + 8);
    if (blockSize == 0 || blockSize > kLzssMaxBlockSize) return 0;
    return LzssBlockCount(LoadU32(header + 4), blockSize);
}

// The CRC of the first covered bytes of the container's contents, walked
// strictly; with a helper, the second half of the blocks on its thread. The
// first half's fault is reported before the second's, as one walk would.
// The halves share nothing but the default pointer pool (the process heap,
// safe on any thread) and the CRC tables, built once before either reads.
bool CrcOfContainer(CFile* container, uint32_t covered, const ChecksumHelper* helper, uint32_t* crc,
                    IntegrityFault* fault) {
    CrcWalk front{container, 0, kNoBlock, CrcSink{covered}, IntegrityFault{}, false};
    CrcWalk back{helper ? helper->container : nullptr, 0, kNoBlock, CrcSink{covered}, IntegrityFault{}, false};
    void* started = nullptr;
    const uint32_t count = helper ? SplittableBlocks(container) : 0;
    if (count >= 2 && count >= helper->minimumBlocks) {
        Crc32Update(0, nullptr, 0);  // builds the tables on this thread
        front.endBlock = back.firstBlock = count / 2;
        started = helper->start(RunCrcWalk, &back);
        if (!started) front.endBlock = kNoBlock;
    }
    RunCrcWalk(&front);
    if (started) helper->wait(started);
    if (!front.sound || (started && !back.sound)) {
        *fault = front.sound ? back.fault : front.fault;
        return false;
    }
    *crc = started ? Crc32Combine(front.sink.crc, back.sink.crc, back.sink.length) : front.sink.crc;
    return true;
}

}  // namespace

bool WalkContainerStrictly(CFile* container, BlockSink sink, void* context, IntegrityFault* fault,
                           uint32_t firstBlock, uint32_t endBlock) {
    const uint32_t end = container->GetSize();
    uint8_t header[kLzssHeaderSize];
    if (end < kLzssHeaderSize || ReadExactly(container, 0, header, kLzssHeaderSize))
        return Fail(fault, "the container header is cut short", 0);
    if (std::memcmp(header, kLzssMagic, 4) != 0) return Fail(fault, "no container header (\"LZSS\")", 0);
    const uint32_t size = LoadU32(header + 4), blockSize = LoadU32(header + 8);
    const uint8_t bitLengths = header[12];
    if (blockSize == 0 || blockSize > kLzssMaxBlockSize) return Fail(fault, "the block size is out of range", 8);
    const uint32_t count = LzssBlockCount(size, blockSize);
    const uint64_t dataStart = LzssDataStart(count);
    if (dataStart > end) return Fail(fault, "the block table runs past the container's end", kLzssTableOffset);

    PoolBlock tableBytes(4ull * count);
    if (!tableBytes.bytes) return Fail(fault, "no memory for the block table", kLzssTableOffset);
    if (ReadExactly(container, kLzssTableOffset, tableBytes.bytes, 4 * count))
        return Fail(fault, "the block table cannot be read", kLzssTableOffset);
    auto start = [&](uint32_t k) { return k < count ? LoadU32(tableBytes.bytes + 4 * k) : end; };
    if (start(0) != dataStart) return Fail(fault, "the block table does not end where the first block starts", kLzssTableOffset, 0);

    // The table first: every block's span and claimed length, so that the
    // buffers are sized by what the container really holds.
    uint64_t largestIn = 1, largestOut = 1;
    for (uint32_t k = 0; k < count; ++k) {
        const uint32_t from = start(k), to = start(k + 1);
        const uint32_t entry = kLzssTableOffset + 4 * (k + 1);
        if (to > end) return Fail(fault, "a block runs past the container's end", k + 1 < count ? entry : from, k);
        if (to < from) return Fail(fault, "the block table runs backwards", entry, k + 1);
        const uint32_t stored = to - from, length = LzssBlockLength(size, blockSize, k);
        if (stored < length) {
            if (length > MostDecodedBytes(stored))
                return Fail(fault, "a compressed block claims more bytes than its stored bytes can hold", from, k);
            if (stored > largestIn) largestIn = stored;
            if (length + 1ull > largestOut) largestOut = length + 1ull;
        } else {
            if (k + 1 < count && stored != length)
                return Fail(fault, "a raw block is longer than its length", from, k);
            if (stored > blockSize) return Fail(fault, "the last block is longer than the block size", from, k);
            if (stored > largestIn) largestIn = stored;
        }
    }
    // Stored bytes are read in runs of whole blocks, up to kReadRun bytes
    // at a time (or one block, when it is longer): one read serves many blocks.
    constexpr uint32_t kReadRun = 256 * 1024;
    const uint64_t runCapacity = largestIn > kReadRun ? largestIn : kReadRun;
    PoolBlock run(runCapacity), out(largestOut);
    if (!run.bytes || !out.bytes) return Fail(fault, "no memory for a block", kLzssTableOffset);

    if (endBlock > count) endBlock = count;
    const uint32_t walkEnd = firstBlock < endBlock ? start(endBlock) : 0;
    uint32_t runStart = 0, runEnd = 0;  // the container bytes run holds
    for (uint32_t k = firstBlock; k < endBlock; ++k) {
        const uint32_t from = start(k), stored = start(k + 1) - from, length = LzssBlockLength(size, blockSize, k);
        if (from < runStart || from + uint64_t(stored) > runEnd) {
            // A run that cannot be read is read again as this block alone,
            // so that the fault names the block whose bytes fail.
            const uint32_t n = walkEnd - from < runCapacity ? walkEnd - from : uint32_t(runCapacity);
            const bool read = !ReadExactly(container, from, run.bytes, n);
            if (!read && ReadExactly(container, from, run.bytes, stored)) return Fail(fault, "a block cannot be read", from, k);
            runStart = from;
            runEnd = from + (read ? n : stored);
        }
        const uint8_t* bytes = run.bytes + (from - runStart);
        const uint8_t* contents = bytes;
        if (stored < length) {
            // One byte of room more than the block's length shows a stream
            // that runs on; bytes a skip token passes read as zeros, as in CLzssFile.
            uint32_t produced = length + 1;
            if (DecodeBlockScribbling(bytes, stored, out.bytes, &produced, bitLengths))
                return Fail(fault, "a compressed block does not decode", from, k);
            if (produced != length) return Fail(fault, "a compressed block decodes to another length than its own", from, k);
            contents = out.bytes;
        } else {
            for (uint32_t i = length; i < stored; ++i)
                if (bytes[i] != 0) return Fail(fault, "bytes other than zeros lie behind the last block's data", from + i, k);
        }
        if (sink) sink(context, uint32_t(uint64_t(k) * blockSize), contents, length);
    }
    return true;
}

PatchChecksum CheckPatchChecksum(CPackFS* pack, CFile* image, CFile* container, IntegrityFault* fault,
                                 const ChecksumHelper* helper) {
    const uint32_t imageSize = image->GetSize();
    ErrorCode lookup = nullptr;
    const uint32_t offset = pack->GetFileOffset(kPatchCrcName, &lookup);
    uint8_t trailer[kPatchCrcEntrySize];
    const bool trailerMagic = imageSize >= kPatchCrcEntrySize &&
                              !ReadExactly(image, imageSize - kPatchCrcEntrySize, trailer, kPatchCrcEntrySize) &&
                              std::memcmp(trailer, kPatchCrcMagic, 4) == 0;
    if (lookup && !trailerMagic) return PatchChecksum::kAbsent;

    auto broken = [&](const char* what, uint32_t at) {
        Fail(fault, what, at, kNoBlock, true);
        return PatchChecksum::kBroken;
    };
    if (lookup) return broken("the pack ends in checksum bytes but names no PATCH.CRC entry", imageSize - kPatchCrcEntrySize);
    ErrorCode error = nullptr;
    CFile* file = pack->Open(kPatchCrcName, FM_READ, &error);
    if (!file) return broken("the PATCH.CRC entry cannot be opened", offset);
    uint8_t bytes[kPatchCrcEntrySize];
    const uint32_t entrySize = file->GetSize();
    const bool read = entrySize == kPatchCrcEntrySize && !ReadExactly(file, 0, bytes, kPatchCrcEntrySize);
    delete file;
    if (entrySize != kPatchCrcEntrySize) return broken("the PATCH.CRC entry is not 16 bytes long", offset);
    if (uint64_t(offset) + kPatchCrcEntrySize != imageSize) return broken("the PATCH.CRC entry does not lie last in the pack", offset);
    if (!read) return broken("the PATCH.CRC entry cannot be read", offset);
    PatchCrcEntry entry;
    if (!ParsePatchCrcEntry(bytes, kPatchCrcEntrySize, &entry)) return broken("the PATCH.CRC entry has no \"QCRC\" magic", offset);
    if (entry.version != kPatchCrcVersion) return broken("the PATCH.CRC entry has an unknown version", offset + 4);
    if (entry.coveredSize != offset) return broken("the PATCH.CRC entry does not cover the pack up to itself", offset + 8);

    CrcSink sink{entry.coveredSize};
    if (container) {
        if (!CrcOfContainer(container, entry.coveredSize, helper, &sink.crc, fault)) return PatchChecksum::kBroken;
    } else {
        uint8_t chunk[4096];
        for (uint32_t at = 0; at < entry.coveredSize; at += sizeof chunk) {
            const uint32_t n = entry.coveredSize - at < sizeof chunk ? entry.coveredSize - at : uint32_t(sizeof chunk);
            if (ReadExactly(image, at, chunk, n)) return broken("the pack cannot be read", at);
            AddToCrc(&sink, at, chunk, n);
        }
    }
    if (sink.crc != entry.crc) return broken("the pack's CRC-32 does not match its PATCH.CRC entry", 0);
    return PatchChecksum::kSound;
}
