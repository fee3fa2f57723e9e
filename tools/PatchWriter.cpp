// The streaming patch writer: a reader on the calling thread, a pool of
// compressing threads, and the writer again on the calling thread, joined
// by a ring of block slots so that at most a few blocks are in flight.
#include "PatchWriter.h"
#include "framework/LittleEndian.h"

#include "Command.h"
#include "PayloadLayout.h"

#include "payload/LzssFormat.h"
#include "payload/PackWriter.h"
#include "payload/PatchCrc.h"
#include "payload/PatchLimits.h"
#include "payload/PatchSeal.h"
#include "pools/DefaultPools.h"
#include "pools/PtrPool.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <numeric>
#include <thread>

namespace {


// The checked pack image of the sources, read front to back; it ends in a
// version-2 checksum entry, whose stored CRC the container's writer hands
// over before the entry's bytes are read.
class PackStream {
public:
    explicit PackStream(const std::vector<PatchSource>& sources) : sources_(sources)
    {
        std::vector<PackWriterEntry> entries;
        for (const PatchSource& source : sources)
            entries.push_back({source.packName.c_str(), nullptr, static_cast<uint32_t>(source.size),
                               source.dosDateTime});
        std::vector<uint32_t> offsets(sources.size());
        uint8_t* head = nullptr;
        if (const ErrorCode error = PlanCheckedPack(entries.data(), static_cast<uint32_t>(entries.size()), &head,
                                                    &headSize_, offsets.data(), &size_, kPatchCrcStoredVersion))
            throw ToolError(std::string("cannot build the pack: ") + ErrorText(error));
        head_.assign(head, head + headSize_);
        g_pDefaultPtrPool->Free(head);
        order_.resize(sources.size());
        std::iota(order_.begin(), order_.end(), size_t(0));
        std::stable_sort(order_.begin(), order_.end(), [&](size_t a, size_t b) { return offsets[a] < offsets[b]; });
        offsets_ = std::move(offsets);
    }
    ~PackStream()
    {
        if (file_ != nullptr)
            std::fclose(file_);
    }
    PackStream(const PackStream&) = delete;
    PackStream& operator=(const PackStream&) = delete;

    uint32_t Size() const { return size_; }

    // Where the entry's tail CRC starts (before any byte is read), and the
    // stored CRC (before the entry's bytes are read).
    void SumTailFrom(uint32_t tailStart) { tailStart_ = tailStart; }
    void SetStoredCrc(uint32_t storedCrc)
    {
        storedCrc_ = storedCrc;
        sealed_ = true;
    }

    // The host path of the file whose bytes lie at offset, or the pack's own
    // name for its directory and checksum entry.
    std::string NameAt(uint32_t offset) const
    {
        for (size_t k = order_.size(); k-- > 0;) {
            const size_t i = order_[k];
            if (offsets_[i] <= offset && offset - offsets_[i] < sources_[i].size)
                return sources_[i].hostPath;
        }
        return "the pack's directory";
    }

    // The next length bytes of the image; the files finished on the way are
    // counted into *files.
    void Read(uint8_t* out, uint32_t length, uint64_t* files)
    {
        while (length > 0) {
            uint32_t got = 0;
            if (position_ < headSize_) {
                got = std::min(length, headSize_ - position_);
                std::memcpy(out, head_.data() + position_, got);
                Sum(out, got);
            } else if (next_ < order_.size() || file_ != nullptr) {
                got = ReadFile(out, length, files);
                Sum(out, got);
            } else {
                const uint32_t covered = size_ - kPatchCrcStoredEntrySize;
                if (position_ < covered)
                    throw ToolError("the pack's files came short of its directory");
                if (!sealed_)
                    throw ToolError("the checksum entry was read before the container's stored CRC was known");
                uint8_t entry[kPatchCrcStoredEntrySize];
                MakeStoredPatchCrcFields(covered, crc_, storedCrc_, entry);
                StoreU32(entry + kPatchCrcTailCrcOffset, Crc32Update(tailCrc_, entry, kPatchCrcTailCrcOffset));
                got = std::min(length, size_ - position_);
                std::memcpy(out, entry + (position_ - covered), got);
            }
            out += got;
            length -= got;
            position_ += got;
        }
    }

private:
    // The covered bytes [position_, position_ + length) into the pack's CRC and the tail's.
    void Sum(const uint8_t* bytes, uint32_t length)
    {
        crc_ = Crc32Update(crc_, bytes, length);
        const uint32_t skip = position_ < tailStart_ ? std::min(length, tailStart_ - position_) : 0;
        tailCrc_ = Crc32Update(tailCrc_, bytes + skip, length - skip);
    }

    // Bytes of the current file (opening the next one as needed); 0 only
    // when a file ended, which moves on to the next.
    uint32_t ReadFile(uint8_t* out, uint32_t length, uint64_t* files)
    {
        if (file_ == nullptr) {
            const PatchSource& source = sources_[order_[next_++]];
            file_ = std::fopen(source.hostPath.c_str(), "rb");
            if (file_ == nullptr)
                throw ToolError("cannot read " + source.hostPath);
            current_ = &source;
            left_ = source.size;
        }
        const uint32_t wanted = static_cast<uint32_t>(std::min<uint64_t>(length, left_));
        const size_t got = wanted ? std::fread(out, 1, wanted, file_) : 0;
        left_ -= got;
        if (got < wanted || (left_ == 0 && std::fgetc(file_) != EOF)) {
            if (std::ferror(file_))
                throw ToolError("cannot read " + current_->hostPath);
            throw ToolError(current_->hostPath + " changed while the patch was being built");
        }
        if (left_ == 0) {
            std::fclose(file_);
            file_ = nullptr;
            ++*files;
        }
        return static_cast<uint32_t>(got);
    }

    const std::vector<PatchSource>& sources_;
    std::vector<uint8_t> head_;
    uint32_t headSize_ = 0, size_ = 0, position_ = 0, crc_ = 0;
    uint32_t tailStart_ = 0, tailCrc_ = 0, storedCrc_ = 0;
    bool sealed_ = false;
    std::vector<uint32_t> offsets_; // of each source's bytes in the pack
    std::vector<size_t> order_;     // sources in the order of their data
    size_t next_ = 0;
    std::FILE* file_ = nullptr;
    const PatchSource* current_ = nullptr;
    uint64_t left_ = 0;
};

// The coder's scratch state, aligned as it needs.
class Scratch {
public:
    Scratch() : memory_(new uint8_t[LzssEncoderScratchSize(kLzssPatchBitLengths) + 15]) {}
    void* Get()
    {
        const uintptr_t at = reinterpret_cast<uintptr_t>(memory_.get());
        return memory_.get() + ((16 - at % 16) % 16);
    }

private:
    std::unique_ptr<uint8_t[]> memory_;
};

struct Slot {
    std::vector<uint8_t> raw = std::vector<uint8_t>(kLzssPatchBlockSize);
    std::vector<uint8_t> packed = std::vector<uint8_t>(LzssWorkBufferSize(kLzssPatchBlockSize));
    uint32_t rawLength = 0;
    uint32_t storedLength = 0;
    bool compressed = false;
    bool done = false;
};

// As CompressLzssImage decides: the coded block when it is shorter, else raw.
// The coder gets room for one byte less than the block, so that it gives up
// on an incompressible block as soon as it could no longer win.
void Compress(Slot* slot, void* scratch)
{
    uint32_t packedLength = std::min(static_cast<uint32_t>(slot->packed.size()), slot->rawLength - 1);
    slot->compressed = !EncodeBlockWithScratch(slot->raw.data(), slot->rawLength, slot->packed.data(), &packedLength,
                                               kLzssPatchBitLengths, nullptr, scratch) &&
                       packedLength < slot->rawLength;
    slot->storedLength = slot->compressed ? packedLength : slot->rawLength;
}

// Compressing threads working through the slots handed to them.
class CompressorPool {
public:
    CompressorPool(std::vector<Slot>* slots, unsigned threads) : slots_(*slots)
    {
        for (unsigned i = 0; i < threads; ++i)
            threads_.emplace_back([this] { Work(); });
    }
    ~CompressorPool()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        ready_.notify_all();
        for (std::thread& thread : threads_)
            thread.join();
    }
    void Submit(size_t slot)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            slots_[slot].done = false;
            jobs_.push_back(slot);
        }
        ready_.notify_one();
    }
    // Whether the slot's block is compressed; with wait, waits until it is.
    bool Done(size_t slot, bool wait)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (wait)
            finished_.wait(lock, [&] { return slots_[slot].done; });
        return slots_[slot].done;
    }

private:
    void Work()
    {
        Scratch scratch;
        for (;;) {
            size_t slot;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                ready_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
                if (jobs_.empty())
                    return;
                slot = jobs_.front();
                jobs_.pop_front();
            }
            Compress(&slots_[slot], scratch.Get());
            {
                std::lock_guard<std::mutex> lock(mutex_);
                slots_[slot].done = true;
            }
            finished_.notify_all();
        }
    }

    std::vector<Slot>& slots_;
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable ready_, finished_;
    std::deque<size_t> jobs_;
    bool stopping_ = false;
};

// Moves size bytes at from to to (to > from) within the file, back to front.
void MoveForward(OutputStream* out, uint64_t from, uint64_t to, uint64_t size)
{
    std::vector<uint8_t> buffer(1 << 20);
    for (uint64_t end = size; end > 0;) {
        const uint64_t begin = end > buffer.size() ? end - buffer.size() : 0;
        out->ReadAt(from + begin, buffer.data(), static_cast<size_t>(end - begin));
        out->WriteAt(to + begin, buffer.data(), static_cast<size_t>(end - begin));
        end = begin;
    }
}

void RefuseHeaderIn(const std::vector<uint8_t>& bytes, size_t limit)
{
    const size_t found = FindPayloadHeader(bytes.data(), bytes.size(), limit);
    if (found != static_cast<size_t>(-1))
        throw ToolError("the stub holds a container header at offset " + std::to_string(found) +
                        ", which the patcher's scan would take for its payload");
}

// Where a long container starts while it is written: the first multiple of
// the scan step behind the stub.
uint64_t ProvisionalStart(size_t stubSize)
{
    return (stubSize + kScanStep - 1) / kScanStep * kScanStep;
}

// The size of the patch a container of containerSize bytes (at least 16 KiB)
// makes: it starts up to 7 bytes behind the provisional start, so that the
// file ends on a multiple of kFileAlignment.
uint64_t StreamedPatchSize(uint64_t provisional, uint64_t containerSize)
{
    return provisional + (containerSize + kFileAlignment - 1) / kFileAlignment * kFileAlignment;
}

std::string LimitText(uint64_t limit)
{
    return std::to_string(limit) + " bytes" + (limit == kMaxPatchFileSize ? " (4 GiB - 1)" : "");
}

// Receives each stored block in order with its offset in the container.
using StoreBlock = std::function<void(uint32_t block, uint64_t at, const uint8_t* bytes, uint32_t length)>;

// Compresses the pack's blocks in order (on threads threads) and hands each
// block's stored bytes to store; fills the container's header and block
// table (*head) and keeps the last block's raw bytes. Returns the
// container's size. Every block before the one that holds the checksum
// entry is stored before that block is read: the entry's stored CRC covers them.
uint64_t CompressContainer(PackStream& pack, unsigned threads, Progress* progress, std::vector<uint8_t>* head,
                           std::vector<uint8_t>* lastBlock, const StoreBlock& store)
{
    const uint32_t size = pack.Size();
    const uint32_t count = LzssBlockCount(size, kLzssPatchBlockSize);
    const uint64_t dataStart = LzssDataStart(count);
    const unsigned workers = threads > 1 ? threads : 0;
    std::vector<Slot> slots(std::max(2u, 4 * threads));
    std::unique_ptr<CompressorPool> pool(workers ? new CompressorPool(&slots, workers) : nullptr);
    Scratch scratch; // the calling thread's, when it compresses itself
    std::vector<uint8_t>& table = *head;
    table.assign(dataStart, 0);
    uint64_t at = dataStart;
    uint32_t written = 0;
    StoredCrcSum seal(size, kLzssPatchBlockSize, kLzssPatchBitLengths);
    pack.SumTailFrom(seal.TailStart());
    // Stores the next block in order; false (without waiting) when it is not ready.
    const auto writeNext = [&](bool wait) {
        Slot& slot = slots[written % slots.size()];
        if (pool && !pool->Done(written % slots.size(), wait))
            return false;
        if (at + slot.storedLength > 0xFFFFFFFFu)
            throw ToolError("the container would pass 4 GiB");
        StoreU32(&table[kLzssTableOffset + 4ull * written], static_cast<uint32_t>(at));
        const uint8_t* stored = slot.compressed ? slot.packed.data() : slot.raw.data();
        seal.AddBlock(static_cast<uint32_t>(at), stored, slot.storedLength);
        store(written, at, stored, slot.storedLength);
        at += slot.storedLength;
        ++written;
        return true;
    };
    for (uint32_t k = 0; k < count; ++k) {
        while (k - written >= slots.size())
            writeNext(true);
        if (k == seal.EntryBlock()) {
            while (written < k)
                writeNext(true);
            pack.SetStoredCrc(seal.StoredCrc(static_cast<uint32_t>(at)));
        }
        Slot& slot = slots[k % slots.size()];
        slot.rawLength = LzssBlockLength(size, kLzssPatchBlockSize, k);
        uint64_t files = 0;
        pack.Read(slot.raw.data(), slot.rawLength, &files);
        if (k + 1 == count)
            lastBlock->assign(slot.raw.begin(), slot.raw.begin() + slot.rawLength);
        if (pool) {
            pool->Submit(k % slots.size());
        } else {
            Compress(&slot, scratch.Get());
            slot.done = true;
        }
        if (progress)
            progress->Advance(files, slot.rawLength);
        while (written <= k && writeNext(false)) {
        }
    }
    while (written < count)
        writeNext(true);
    pool.reset();

    std::memcpy(table.data(), kLzssMagic, 4);
    StoreU32(&table[4], size);
    StoreU32(&table[8], kLzssPatchBlockSize);
    table[12] = kLzssPatchBitLengths;
    table[13] = 0;
    return at;
}

// The pack holds every source in the order of their names, behind its
// directory, and the checksum entry last.
void RefusePackPastLimit(const std::vector<PatchSource>& sources)
{
    std::vector<PackWriterEntry> entries;
    for (const PatchSource& source : sources)
        entries.push_back({source.packName.c_str(), nullptr, 0, source.dosDateTime});
    std::vector<uint32_t> offsets(sources.size());
    uint8_t* head = nullptr;
    uint32_t headSize = 0, emptySize = 0;
    // A pack that cannot be planned at all is refused by the writer, with its reason.
    if (PlanCheckedPack(entries.data(), static_cast<uint32_t>(entries.size()), &head, &headSize, offsets.data(),
                        &emptySize, kPatchCrcStoredVersion))
        return;
    g_pDefaultPtrPool->Free(head);
    uint64_t packSize = emptySize;
    for (const PatchSource& source : sources) {
        packSize += source.size;
        if (packSize > kMaxPackSize)
            throw ToolError(source.hostPath + ": the pack would reach " + std::to_string(packSize) +
                            " bytes with this file; the patcher reads a pack of at most " + LimitText(kMaxPackSize) +
                            "; no patch written");
    }
}

} // namespace

void CheckPatchFits(const std::vector<uint8_t>& stub, const std::vector<PatchSource>& sources, unsigned threads,
                    uint64_t maxPatchSize)
{
    RefusePackPastLimit(sources);
    PackStream pack(sources);
    const uint64_t provisional = ProvisionalStart(stub.size());
    // Every block stored raw is the most a container can take.
    const uint64_t dataStart = LzssDataStart(LzssBlockCount(pack.Size(), kLzssPatchBlockSize));
    if (StreamedPatchSize(provisional, dataStart + pack.Size()) <= maxPatchSize)
        return;
    // Only the compressed size tells: compress without writing, and stop at
    // the block that passes the limit.
    std::vector<uint8_t> head, lastBlock;
    CompressContainer(pack, threads, nullptr, &head, &lastBlock,
                      [&](uint32_t block, uint64_t at, const uint8_t*, uint32_t length) {
                          if (StreamedPatchSize(provisional, at + length) > maxPatchSize)
                              throw ToolError(pack.NameAt(block * kLzssPatchBlockSize) + ": the patch would pass " +
                                              LimitText(maxPatchSize) +
                                              ", the most the patcher reads back from its own file; no patch "
                                              "written");
                      });
}

PatchWriteResult WritePatch(const std::vector<uint8_t>& stub, const std::vector<PatchSource>& sources,
                            unsigned threads, OutputStream* out, Progress* progress)
{
    RefuseHeaderIn(stub, stub.size());
    RefusePackPastLimit(sources);
    PackStream pack(sources);
    const uint32_t size = pack.Size();

    // The container goes first where a long one starts; a short one is laid
    // out again at the end.
    const uint64_t provisional = ProvisionalStart(stub.size());
    out->WriteAt(0, stub.data(), stub.size());
    const std::vector<uint8_t> gap(provisional - stub.size(), 0);
    out->WriteAt(stub.size(), gap.data(), gap.size());

    std::vector<uint8_t> table, lastBlock;
    const uint64_t at = CompressContainer(
        pack, threads, progress, &table, &lastBlock, [&](uint32_t, uint64_t offset, const uint8_t* bytes, uint32_t length) {
            // Checked before the build; a source that changed since may still pass the limit.
            if (StreamedPatchSize(provisional, offset + length) > kMaxPatchFileSize)
                throw ToolError("the patch would pass " + LimitText(kMaxPatchFileSize) +
                                ", the most the patcher reads back from its own file");
            out->WriteAt(provisional + offset, bytes, length);
        });
    out->WriteAt(provisional, table.data(), table.size());

    PatchWriteResult result;
    result.packSize = size;
    size_t start = 0;
    if (!StreamedContainerStart(stub, at, &start)) {
        // A short container: laid out in memory (it is under 16 KiB), its
        // last block stored raw from the image's last bytes.
        std::vector<uint8_t> container(at);
        out->ReadAt(provisional, container.data(), container.size());
        std::vector<uint8_t> image(size, 0);
        std::copy(lastBlock.begin(), lastBlock.end(), image.end() - static_cast<long>(lastBlock.size()));
        size_t payloadOffset = 0;
        const std::vector<uint8_t> patch = LayOutPatch(stub, std::move(container), image.data(), size, &payloadOffset);
        out->WriteAt(0, patch.data(), patch.size());
        out->Resize(patch.size());
        result.patchSize = patch.size();
        result.payloadOffset = payloadOffset;
        return result;
    }
    if (start != provisional) {
        MoveForward(out, provisional, start, at);
        const std::vector<uint8_t> zeros(start - provisional, 0);
        out->WriteAt(provisional, zeros.data(), zeros.size());
    }
    out->Resize(start + at);
    // No header before the payload: the stub's end and the padding, up to
    // the container's own header.
    std::vector<uint8_t> prefix(stub);
    prefix.resize(start, 0);
    prefix.insert(prefix.end(), table.begin(), table.begin() + 12);
    RefuseHeaderIn(prefix, std::min<size_t>(start, PayloadScanLimit(start + at)));
    if (PayloadScanLimit(start + at) <= start)
        throw ToolError("the patcher's scan would not find the payload at offset " + std::to_string(start));
    result.patchSize = start + at;
    result.payloadOffset = start;
    return result;
}
