#include "payload/PatchIntegrity.h"

#include "framework/LittleEndian.h"

#include <cstring>
#include <initializer_list>

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

// Sums the decoded bytes of the image that fall in [begin, end).
struct CrcSink {
    uint32_t begin, end;
    uint32_t crc = 0;
    uint64_t length = 0;  // bytes summed
};

void AddToCrc(void* context, uint32_t imageOffset, const uint8_t* bytes, uint32_t length) {
    auto* sink = static_cast<CrcSink*>(context);
    uint64_t from = imageOffset, to = uint64_t(imageOffset) + length;
    if (from < sink->begin) from = sink->begin;
    if (to > sink->end) to = sink->end;
    if (from >= to) return;
    sink->crc = Crc32Update(sink->crc, bytes + (from - imageOffset), size_t(to - from));
    sink->length += to - from;
}

// A container's header and block table, read and checked under the strict
// rules, with the buffer sizes its blocks need.
struct StrictTable {
    uint8_t header[kLzssHeaderSize];
    uint32_t end = 0, size = 0, blockSize = 0, count = 0;
    uint8_t bitLengths = 0;
    uint64_t largestIn = 1, largestOut = 1;
    uint8_t* entries = nullptr;  // count little-endian offsets, from the default pool

    StrictTable() = default;
    ~StrictTable() { g_pDefaultPtrPool->Free(entries); }
    StrictTable(const StrictTable&) = delete;
    StrictTable& operator=(const StrictTable&) = delete;
    // Where block k's stored bytes begin (k = count: the container's end).
    uint32_t Start(uint32_t k) const { return k < count ? LoadU32(entries + 4 * k) : end; }
};

bool ReadStrictTable(CFile* container, StrictTable* t, IntegrityFault* fault) {
    const uint32_t end = t->end = container->GetSize();
    uint8_t* header = t->header;
    if (end < kLzssHeaderSize || ReadExactly(container, 0, header, kLzssHeaderSize))
        return Fail(fault, "the container header is cut short", 0);
    if (std::memcmp(header, kLzssMagic, 4) != 0) return Fail(fault, "no container header (\"LZSS\")", 0);
    const uint32_t size = t->size = LoadU32(header + 4), blockSize = t->blockSize = LoadU32(header + 8);
    t->bitLengths = header[12];
    if (blockSize == 0 || blockSize > kLzssMaxBlockSize) return Fail(fault, "the block size is out of range", 8);
    const uint32_t count = t->count = LzssBlockCount(size, blockSize);
    const uint64_t dataStart = LzssDataStart(count);
    if (dataStart > end) return Fail(fault, "the block table runs past the container's end", kLzssTableOffset);

    // The table lies inside the container (checked above), so 4 x count fits 32 bits.
    t->entries = static_cast<uint8_t*>(g_pDefaultPtrPool->Alloc(4 * count));
    if (!t->entries) return Fail(fault, "no memory for the block table", kLzssTableOffset);
    if (ReadExactly(container, kLzssTableOffset, t->entries, 4 * count))
        return Fail(fault, "the block table cannot be read", kLzssTableOffset);
    if (t->Start(0) != dataStart)
        return Fail(fault, "the block table does not end where the first block starts", kLzssTableOffset, 0);

    // Every block's span and claimed length, so that the buffers are sized
    // by what the container really holds.
    for (uint32_t k = 0; k < count; ++k) {
        const uint32_t from = t->Start(k), to = t->Start(k + 1);
        const uint32_t entry = kLzssTableOffset + 4 * (k + 1);
        if (to > end) return Fail(fault, "a block runs past the container's end", k + 1 < count ? entry : from, k);
        if (to < from) return Fail(fault, "the block table runs backwards", entry, k + 1);
        const uint32_t stored = to - from, length = LzssBlockLength(size, blockSize, k);
        if (stored < length) {
            if (length > MostDecodedBytes(stored))
                return Fail(fault, "a compressed block claims more bytes than its stored bytes can hold", from, k);
            if (stored > t->largestIn) t->largestIn = stored;
            if (length + 1ull > t->largestOut) t->largestOut = length + 1ull;
        } else {
            if (k + 1 < count && stored != length)
                return Fail(fault, "a raw block is longer than its length", from, k);
            if (stored > blockSize) return Fail(fault, "the last block is longer than the block size", from, k);
            if (stored > t->largestIn) t->largestIn = stored;
        }
    }
    return true;
}

// Stored bytes are read in runs of up to kReadRun bytes (or one block, when
// it is longer): one read serves many blocks.
constexpr uint32_t kReadRun = 256 * 1024;

// Decodes blocks [firstBlock, endBlock) of a container whose table passed.
bool DecodeBlocks(CFile* container, const StrictTable& t, BlockSink sink, void* context, IntegrityFault* fault,
                  uint32_t firstBlock, uint32_t endBlock) {
    const uint64_t runCapacity = t.largestIn > kReadRun ? t.largestIn : kReadRun;
    PoolBlock run(runCapacity), out(t.largestOut);
    if (!run.bytes || !out.bytes) return Fail(fault, "no memory for a block", kLzssTableOffset);

    if (endBlock > t.count) endBlock = t.count;
    const uint32_t walkEnd = firstBlock < endBlock ? t.Start(endBlock) : 0;
    uint32_t runStart = 0, runEnd = 0;  // the container bytes run holds
    for (uint32_t k = firstBlock; k < endBlock; ++k) {
        const uint32_t from = t.Start(k), stored = t.Start(k + 1) - from;
        const uint32_t length = LzssBlockLength(t.size, t.blockSize, k);
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
            if (DecodeBlockScribbling(bytes, stored, out.bytes, &produced, t.bitLengths))
                return Fail(fault, "a compressed block does not decode", from, k);
            if (produced != length) return Fail(fault, "a compressed block decodes to another length than its own", from, k);
            contents = out.bytes;
        } else {
            for (uint32_t i = length; i < stored; ++i)
                if (bytes[i] != 0) return Fail(fault, "bytes other than zeros lie behind the last block's data", from + i, k);
        }
        if (sink) sink(context, uint32_t(uint64_t(k) * t.blockSize), contents, length);
    }
    return true;
}

// A range of blocks walked into its own CRC.
struct CrcWalk {
    CFile* container;
    const StrictTable* table;
    uint32_t firstBlock, endBlock;
    CrcSink sink;
    IntegrityFault fault;
    bool sound;
};

void RunCrcWalk(void* argument) {
    auto* walk = static_cast<CrcWalk*>(argument);
    walk->sound = walk->firstBlock >= walk->endBlock ||
                  DecodeBlocks(walk->container, *walk->table, AddToCrc, &walk->sink, &walk->fault, walk->firstBlock,
                               walk->endBlock);
}

// The stored bytes of blocks [firstBlock, endBlock), raw, into their own CRC.
struct StoredWalk {
    CFile* container;
    const StrictTable* table;
    uint32_t firstBlock, endBlock;
    uint32_t crc;
    uint64_t length;
    IntegrityFault fault;
    bool sound;
};

void RunStoredWalk(void* argument) {
    auto* walk = static_cast<StoredWalk*>(argument);
    const StrictTable& t = *walk->table;
    walk->crc = 0;
    walk->length = 0;
    walk->sound = true;
    if (walk->firstBlock >= walk->endBlock) return;
    const uint32_t from = t.Start(walk->firstBlock), to = t.Start(walk->endBlock);
    PoolBlock run(to - from < kReadRun ? to - from : kReadRun);
    if (!run.bytes) {
        walk->sound = Fail(&walk->fault, "no memory for a block", kLzssTableOffset);
        return;
    }
    uint32_t k = walk->firstBlock;  // the block that holds at
    for (uint32_t at = from; at < to;) {
        const uint32_t n = to - at < kReadRun ? to - at : kReadRun;
        if (ReadExactly(walk->container, at, run.bytes, n)) {
            // Read again block by block, so that the fault names the block
            // whose bytes fail, whichever runs the range was cut into.
            for (uint32_t j = k; j < walk->endBlock && t.Start(j) < at + n; ++j) {
                const uint32_t pieceFrom = t.Start(j) > at ? t.Start(j) : at;
                const uint32_t pieceTo = t.Start(j + 1) < at + n ? t.Start(j + 1) : at + n;
                if (pieceTo > pieceFrom && ReadExactly(walk->container, pieceFrom, run.bytes, pieceTo - pieceFrom)) {
                    walk->sound = Fail(&walk->fault, "a block cannot be read", t.Start(j), j);
                    return;
                }
            }
            walk->sound = Fail(&walk->fault, "the container cannot be read", at);
            return;
        }
        walk->crc = Crc32Update(walk->crc, run.bytes, n);
        walk->length += n;
        at += n;
        while (k < walk->endBlock && t.Start(k + 1) <= at) ++k;
    }
}

bool UseHelper(const ChecksumHelper* helper, uint32_t blocks) {
    return helper && blocks >= 2 && blocks >= helper->minimumBlocks;
}

// Runs a on this thread and b on the helper's (or after a, when none can
// start); CRC tables are built first, so that neither thread builds them.
void RunBoth(const ChecksumHelper* helper, void (*a)(void*), void* argumentA, void (*b)(void*), void* argumentB) {
    void* started = nullptr;
    if (helper) {
        Crc32Update(0, nullptr, 0);
        started = helper->threads.start(b, argumentB);
    }
    a(argumentA);
    if (started) helper->threads.wait(started);
    else b(argumentB);
}

// The CRC of the image's decoded bytes [begin, end), every block walked
// strictly; with a helper, the second half of the blocks on its thread. The
// first half's fault is reported before the second's, as one walk would.
// The halves share nothing but the table (read only), the default pointer
// pool (the process heap, safe on any thread) and the CRC tables.
bool CrcOfContainer(CFile* container, const StrictTable& t, uint32_t begin, uint32_t end,
                    const ChecksumHelper* helper, uint32_t* crc, IntegrityFault* fault) {
    CrcWalk front{container, &t, 0, t.count, CrcSink{begin, end}, IntegrityFault{}, false};
    CrcWalk back{helper ? helper->container : nullptr, &t, t.count, t.count, CrcSink{begin, end}, IntegrityFault{}, true};
    if (UseHelper(helper, t.count)) front.endBlock = back.firstBlock = t.count / 2;
    RunBoth(UseHelper(helper, t.count) ? helper : nullptr, RunCrcWalk, &front, RunCrcWalk, &back);
    if (!front.sound || !back.sound) {
        *fault = front.sound ? back.fault : front.fault;
        return false;
    }
    *crc = Crc32Combine(front.sink.crc, back.sink.crc, back.sink.length);
    return true;
}

// The stored CRC of a version-2 entry whose first byte lies in block k: the
// header and table entries [0, k] as read, then blocks [0, k) raw, in two
// halves of about equal bytes with a helper.
bool StoredCrcOfContainer(CFile* container, const StrictTable& t, uint32_t k, const ChecksumHelper* helper,
                          uint32_t* crc, IntegrityFault* fault) {
    StoredWalk front{container, &t, 0, k, 0, 0, IntegrityFault{}, false};
    StoredWalk back{helper ? helper->container : nullptr, &t, k, k, 0, 0, IntegrityFault{}, false};
    const bool split = UseHelper(helper, k);
    if (split) {
        const uint32_t middle = t.Start(0) + (t.Start(k) - t.Start(0)) / 2;
        uint32_t j = 1;
        while (j + 1 < k && t.Start(j) < middle) ++j;
        front.endBlock = back.firstBlock = j;
    }
    RunBoth(split ? helper : nullptr, RunStoredWalk, &front, RunStoredWalk, &back);
    if (!front.sound || !back.sound) {
        *fault = front.sound ? back.fault : front.fault;
        return false;
    }
    uint32_t head = Crc32(t.header, kLzssHeaderSize);
    head = Crc32Update(head, t.entries, 4 * (k + 1));
    *crc = Crc32Combine(head, Crc32Combine(front.crc, back.crc, back.length), front.length + back.length);
    return true;
}

}  // namespace

bool WalkContainerStrictly(CFile* container, BlockSink sink, void* context, IntegrityFault* fault,
                           uint32_t firstBlock, uint32_t endBlock) {
    StrictTable table;
    return ReadStrictTable(container, &table, fault) &&
           DecodeBlocks(container, table, sink, context, fault, firstBlock, endBlock);
}

namespace {

PatchChecksum Broken(IntegrityFault* fault, const char* what, uint32_t at) {
    Fail(fault, what, at, kNoBlock, true);
    return PatchChecksum::kBroken;
}

// A CRC over [from, to) that does not match.
PatchChecksum Mismatch(IntegrityFault* fault, const char* what, uint32_t from, uint32_t to, bool inPack,
                       uint32_t found, uint32_t stored) {
    Fail(fault, what, from, kNoBlock, inPack);
    fault->end = to;
    fault->syndrome = found ^ stored;
    return PatchChecksum::kBroken;
}

// A version-2 entry inside a container: the table's rules, the tail
// decoded strictly into the tail CRC, the covered blocks' stored bytes into
// the stored CRC.
PatchChecksum CheckStoredCrc(CFile* container, const PatchCrcEntry& entry, const ChecksumHelper* helper,
                             IntegrityFault* fault) {
    StrictTable t;
    if (!ReadStrictTable(container, &t, fault)) return PatchChecksum::kBroken;
    const uint32_t k = entry.coveredSize / t.blockSize;
    if (k >= t.count || uint64_t(entry.coveredSize) + kPatchCrcStoredEntrySize != t.size)
        return Broken(fault, "the PATCH.CRC entry does not end the container's contents", entry.coveredSize);
    uint32_t storedCrc = 0;
    if (!StoredCrcOfContainer(container, t, k, helper, &storedCrc, fault)) return PatchChecksum::kBroken;
    CrcSink tail{k * t.blockSize, entry.coveredSize + kPatchCrcTailCrcOffset};
    if (!DecodeBlocks(container, t, AddToCrc, &tail, fault, k, t.count)) return PatchChecksum::kBroken;
    if (storedCrc != entry.storedCrc)
        return Mismatch(fault, "the container's stored bytes do not match the PATCH.CRC entry", 0, t.Start(k), false,
                        storedCrc, entry.storedCrc);
    if (tail.crc != entry.tailCrc)
        return Mismatch(fault, "the pack's last blocks do not match the PATCH.CRC entry", k * t.blockSize,
                        entry.coveredSize + kPatchCrcTailCrcOffset, true, tail.crc, entry.tailCrc);
    return PatchChecksum::kSound;
}

}  // namespace

PatchChecksum CheckPatchChecksum(CPackFS* pack, CFile* image, CFile* container, IntegrityFault* fault,
                                 const ChecksumHelper* helper, ChecksumDepth depth) {
    const uint32_t imageSize = image->GetSize();
    ErrorCode lookup = nullptr;
    const uint32_t offset = pack->GetFileOffset(kPatchCrcName, &lookup);
    // The magic at the start of the last bytes of either version's size.
    bool trailerMagic = false;
    for (uint32_t size : {kPatchCrcEntrySize, kPatchCrcStoredEntrySize}) {
        uint8_t magic[4];
        trailerMagic = trailerMagic || (imageSize >= size && !ReadExactly(image, imageSize - size, magic, 4) &&
                                        std::memcmp(magic, kPatchCrcMagic, 4) == 0);
    }
    if (lookup && !trailerMagic) return PatchChecksum::kAbsent;

    if (lookup) return Broken(fault, "the pack ends in checksum bytes but names no PATCH.CRC entry", imageSize - kPatchCrcEntrySize);
    ErrorCode error = nullptr;
    CFile* file = pack->Open(kPatchCrcName, FM_READ, &error);
    if (!file) return Broken(fault, "the PATCH.CRC entry cannot be opened", offset);
    uint8_t bytes[kPatchCrcStoredEntrySize];
    const uint32_t entrySize = file->GetSize();
    const bool sized = entrySize == kPatchCrcEntrySize || entrySize == kPatchCrcStoredEntrySize;
    const bool read = sized && !ReadExactly(file, 0, bytes, entrySize);
    delete file;
    if (!sized) return Broken(fault, "the PATCH.CRC entry is neither 16 nor 24 bytes long", offset);
    if (uint64_t(offset) + entrySize != imageSize) return Broken(fault, "the PATCH.CRC entry does not lie last in the pack", offset);
    if (!read) return Broken(fault, "the PATCH.CRC entry cannot be read", offset);
    PatchCrcEntry entry;
    if (!ParsePatchCrcEntry(bytes, entrySize, &entry)) return Broken(fault, "the PATCH.CRC entry has no \"QCRC\" magic", offset);
    if (PatchCrcEntrySize(entry.version) != entrySize) return Broken(fault, "the PATCH.CRC entry has an unknown version", offset + 4);
    if (entry.coveredSize != offset) return Broken(fault, "the PATCH.CRC entry does not cover the pack up to itself", offset + 8);

    const bool stored = entry.version == kPatchCrcStoredVersion && container;
    if (stored) {
        const PatchChecksum result = CheckStoredCrc(container, entry, helper, fault);
        if (result != PatchChecksum::kSound || depth == ChecksumDepth::kStartUp) return result;
    }
    // The decoded CRC of [0, N): every block decoded (or the bare pack read).
    uint32_t crc = 0;
    if (container) {
        StrictTable t;
        if (!ReadStrictTable(container, &t, fault) ||
            !CrcOfContainer(container, t, 0, entry.coveredSize, helper, &crc, fault))
            return PatchChecksum::kBroken;
    } else {
        CrcSink sink{0, entry.coveredSize};
        uint8_t chunk[4096];
        for (uint32_t at = 0; at < entry.coveredSize; at += sizeof chunk) {
            const uint32_t n = entry.coveredSize - at < sizeof chunk ? entry.coveredSize - at : uint32_t(sizeof chunk);
            if (ReadExactly(image, at, chunk, n)) return Broken(fault, "the pack cannot be read", at);
            AddToCrc(&sink, at, chunk, n);
        }
        crc = sink.crc;
    }
    if (crc != entry.crc)
        return Mismatch(fault, "the pack's CRC-32 does not match its PATCH.CRC entry", 0, entry.coveredSize, true, crc,
                        entry.crc);
    return PatchChecksum::kSound;
}
