#include <cstring>

#include "payload/Delta.h"

#include "file/PlainFileName.h"
#include "payload/DeltaContent.h"
#include "payload/DeltaModel.h"
#include "payload/DeltaRefs.h"
#include "payload/PatchCrc.h"
#include "pools/DefaultPools.h"

namespace {

// The delta's and the new file's buffers: small, as every page of them is
// touched and a page's first touch costs about as much as the writes it
// saves (the delta is read through the container's own buffer).
constexpr uint32_t kInputSize = 0x4000;
constexpr uint32_t kOutputSize = 0x10000;
// The old file is read through a direct-mapped cache of kCacheSlots blocks
// of kBlockSize bytes (block b in slot b mod kCacheSlots), an add's blocks
// read together, up to kMaxReadBlocks in one read: a file patched in order
// is read about once, code that copies from all over it rereads little.
// 256 KB: a larger cache saved fewer rereads than its pages cost to touch.
constexpr uint32_t kBlockSize = 0x4000;
constexpr uint32_t kCacheSlots = 16;
constexpr uint32_t kMaxReadBlocks = 16;
// The coder reads at most a few bytes past what the encoder flushed only on
// a damaged stream; past this many it is refused.
constexpr uint32_t kMaxOverrun = 8;

uint32_t Load32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Everything a run needs, taken from the pool in one block.
struct Work {
    DeltaModel model;
    uint8_t input[kInputSize];
    uint8_t cache[kCacheSlots][kBlockSize];
    uint32_t tag[kCacheSlots];  // the block in each slot plus one, 0 for none
    // With a reference model, how far each slot's chunks (kRefChunk bytes)
    // are predicted: only as far as an add has read, as one from far away
    // often needs a few bytes of a block.
    uint16_t predicted[kCacheSlots][kBlockSize / kRefChunk];
    uint8_t straddle[kDeltaGroup];
    uint8_t output[kOutputSize];
};

// The range decoder's state. The hot loops keep a copy in a local variable,
// so that the compiler holds it in registers across the byte stores of the
// output (which may alias anything reached through a pointer).
struct Coder {
    uint32_t range, code;
    const uint8_t* next;
    const uint8_t* end;
};

class Applier {
public:
    // delta null: the stream is in memory (SetInput). digest (null: none)
    // continues over what is written to out. refs: the references of the
    // old file predicted as read (null: none).
    Applier(Work* w, CFile* oldFile, CFile* delta, CFile* out, const DeltaHeader& header, uint32_t crc,
            CDeltaDigest* digest, const RefModel* refs)
        : work_(w), old_(oldFile), delta_(delta), out_(out), refs_(refs), header_(header), digest_(digest),
          crc_(crc) {}

    // The stream in memory; with collect, the new bytes go there instead of
    // to out (and are not added to the CRC or the digest).
    void SetInput(const uint8_t* stream, uint32_t size, uint8_t* collect) {
        coder_.next = stream;
        coder_.end = stream + size;
        collect_ = collect;
    }
    // Makes newSize bytes (a whole file, or a segment of one).
    ErrorCode Run(uint32_t newSize);
    // The CRC-32 of all written so far, from the one given at the start.
    uint32_t Crc() const { return crc_; }

private:
    uint32_t Fill();
    uint8_t NextByte(Coder& c) {
        if (c.next == c.end) {
            c.next = work_->input;
            c.end = c.next + Fill();
            if (c.next == c.end) {
                ++overrun_;
                return 0;
            }
        }
        return *c.next++;
    }
    void Normalize(Coder& c) {
        while (c.range < kDeltaRangeTop) {
            c.range <<= 8;
            c.code = c.code << 8 | NextByte(c);
        }
    }
    // A bit whose chance of being 0 is chanceOfZero (of kDeltaProbBits).
    // Flags are mostly one way: a branch on the bit is well predicted.
    unsigned CodedBit(Coder& c, uint32_t chanceOfZero) {
        uint32_t bound = (c.range >> kDeltaProbBits) * chanceOfZero;
        unsigned bit = c.code >= bound;
        if (bit) {
            c.code -= bound;
            c.range -= bound;
        } else {
            c.range = bound;
        }
        Normalize(c);
        return bit;
    }
    // The same for the bits of byte trees, near even odds: no branch on it.
    unsigned EvenBit(Coder& c, uint32_t chanceOfZero) {
        uint32_t bound = (c.range >> kDeltaProbBits) * chanceOfZero;
        unsigned bit = c.code >= bound;
        uint32_t mask = 0u - bit;
        c.code -= bound & mask;
        c.range = ((c.range - bound) & mask) | (bound & ~mask);
        Normalize(c);
        return bit;
    }
    unsigned Bit(Coder& c, DeltaProb* p) {
        unsigned bit = CodedBit(c, DeltaChanceOfZero(*p));
        DeltaLearn(p, bit);
        return bit;
    }
    // A bit at even odds that no model learns.
    unsigned DirectBit(Coder& c) { return EvenBit(c, kDeltaEvenOdds); }
    // A byte of 256 equal chances. Only a damaged stream has a code past
    // the 256 shares; it reads as 255 and the CRC check refuses the result.
    uint8_t SymbolByte(Coder& c) {
        uint32_t share = c.range >> 8, value = c.code / share;
        if (value > 255) value = 255;
        c.code -= value * share;
        c.range = share;
        Normalize(c);
        return uint8_t(value);
    }
    uint32_t Number(Coder& c, DeltaNumberModel* m) {
        unsigned length = 1;
        for (int i = 0; i < 6; ++i) length = length << 1 | Bit(c, &m->length[length]);
        length -= 64;
        if (length == 0) return 0;
        if (length > 32) length = 32;  // only a damaged stream says more; the bounds checks refuse it
        uint32_t n = 1;
        for (unsigned i = 0; i + 1 < length; ++i) n = n << 1 | Bit(c, &m->bits[length][i]);
        return n;
    }
    // Each bit's chance is chosen from its parent's two children, loaded
    // while the parent's bit decodes (as in Literals).
    unsigned Nibble(Coder& c, DeltaProb* tree) {
        unsigned node = 1;
        uint32_t chance = DeltaChanceOfZero(tree[1]);
        for (int level = 0; level < 4; ++level) {
            uint32_t chance0 = level < 3 ? DeltaChanceOfZero(tree[2 * node]) : 0;
            uint32_t chance1 = level < 3 ? DeltaChanceOfZero(tree[2 * node + 1]) : 0;
            unsigned bit = EvenBit(c, chance);
            DeltaLearn(&tree[node], bit);
            node = node << 1 | bit;
            chance = bit ? chance1 : chance0;
        }
        return node - 16;
    }
    uint8_t Byte(Coder& c, DeltaModel::Row row) {
        DeltaModel& m = work_->model;
        unsigned high = Nibble(c, m.HighTree(row));
        return uint8_t(high << 4 | Nibble(c, m.LowTree(row, high)));
    }
    uint8_t Diff(Coder& c, uint32_t context) {
        DeltaModel& m = work_->model;
        if (!(header_.flags & kDeltaFastCoding)) return Byte(c, m.Diff(context));
        uint8_t* seen = m.diffSeen[context];
        DeltaProb* hit = m.diffHit[context];
        uint8_t diff;
        if (seen[0] && !Bit(c, &hit[0]))
            diff = seen[0];
        else if (seen[1] && !Bit(c, &hit[1]))
            diff = seen[1];
        else
            diff = Byte(c, m.Diff(context));
        DeltaRememberDiff(seen, diff);
        return diff;
    }
    // The hot loops, each a function of its own (the coder's state in
    // registers, not spilled around the whole of Run), with a change's diff
    // decoded out of line.
    void ChangedGroup(Coder& c, DeltaAddState& state, const uint8_t* source, uint8_t* target, uint32_t n);
    void Literals(Coder& c, uint8_t* to, uint32_t n, uint8_t* before1, uint8_t* before2);
    __attribute__((noinline)) uint8_t ChangeDiff(Coder& c, uint32_t context) { return Diff(c, context); }
    ErrorCode FlushOutput();
    // The old file's bytes [position, position + n), n <= kDeltaGroup inside
    // the old file; wanted >= n is how much the caller reads from there on.
    // Null after a read error, in *error.
    const uint8_t* OldBytes(uint32_t position, uint32_t n, uint32_t wanted, ErrorCode* error);
    ErrorCode LoadBlocks(uint32_t block, uint32_t wanted);
    void PredictChunks(uint32_t slot, uint32_t block, uint32_t offset, uint32_t n);
    ErrorCode Add(uint32_t count);
    ErrorCode Extra(uint32_t count, bool raw);
    void RawBytes(Coder& c, uint8_t* to, uint32_t n);

    Work* work_;
    CFile* old_;
    CFile* delta_;
    CFile* out_;
    const RefModel* refs_;
    DeltaHeader header_;
    CDeltaDigest* digest_;
    uint8_t* collect_ = nullptr;
    Coder coder_{0xFFFFFFFFu, 0, nullptr, nullptr};
    uint32_t overrun_ = 0;
    ErrorCode readError_ = nullptr;
    uint32_t outFill_ = 0, produced_ = 0, crc_ = 0;
    uint32_t oldPos_ = 0;
    uint8_t previous_ = 0, previous2_ = 0;  // the last two bytes produced
    DeltaAddState add_;
};

// Refills the input buffer; how many bytes it got, 0 at the delta's end or
// on a read error (kept for Run to report).
uint32_t Applier::Fill() {
    if (readError_ || !delta_) return 0;
    uint32_t got = 0;
    ErrorCode error = delta_->Read(work_->input, kInputSize, &got);
    if (error && error != ERR_EOF) readError_ = error;
    return got > kInputSize ? 0 : got;
}

ErrorCode Applier::FlushOutput() {
    if (outFill_ == 0) return nullptr;
    if (collect_) {
        std::memcpy(collect_, work_->output, outFill_);
        collect_ += outFill_;
        outFill_ = 0;
        return nullptr;
    }
    crc_ = Crc32Update(crc_, work_->output, outFill_);
    if (digest_) digest_->Update(work_->output, outFill_);
    uint32_t written = 0;
    ErrorCode error = out_->Write(work_->output, outFill_, &written);
    if (!error && written != outFill_) error = ERR_WRITEFAIL;
    outFill_ = 0;
    return error;
}

// Reads block and the following ones the caller wants (from the block's
// start) that fit the cache without wrapping.
ErrorCode Applier::LoadBlocks(uint32_t block, uint32_t wanted) {
    uint32_t slot = block % kCacheSlots;
    uint32_t blocks = wanted / kBlockSize + 1;
    if (blocks > kMaxReadBlocks) blocks = kMaxReadBlocks;
    if (blocks > kCacheSlots - slot) blocks = kCacheSlots - slot;
    uint32_t start = block * kBlockSize, left = header_.oldSize - start;
    uint32_t length = blocks * kBlockSize < left ? blocks * kBlockSize : left;
    blocks = (length + kBlockSize - 1) / kBlockSize;
    for (uint32_t i = 0; i < blocks; ++i) work_->tag[slot + i] = 0;
    uint32_t got = 0;
    ErrorCode error = old_->ReadAt(work_->cache[slot], start, length, &got);
    if (!error && got != length) error = ERR_READFAIL;
    if (error) return error;
    for (uint32_t i = 0; i < blocks; ++i) {
        work_->tag[slot + i] = block + i + 1;
        for (uint16_t& done : work_->predicted[slot + i]) done = 0;
    }
    return nullptr;
}

const uint8_t* Applier::OldBytes(uint32_t position, uint32_t n, uint32_t wanted, ErrorCode* error) {
    uint32_t block = position / kBlockSize, offset = position % kBlockSize;
    if (offset + n > kBlockSize) {
        // Across two blocks: both halves copied side by side.
        uint32_t first = kBlockSize - offset;
        const uint8_t* bytes = OldBytes(position, first, wanted, error);
        if (!bytes) return nullptr;
        std::memcpy(work_->straddle, bytes, first);
        bytes = OldBytes(position + first, n - first, wanted - first, error);
        if (!bytes) return nullptr;
        std::memcpy(work_->straddle + first, bytes, n - first);
        return work_->straddle;
    }
    uint32_t slot = block % kCacheSlots;
    if (work_->tag[slot] != block + 1 && (*error = LoadBlocks(block, offset + wanted))) return nullptr;
    if (refs_) PredictChunks(slot, block, offset, n);
    return work_->cache[slot] + offset;
}

// Predicts the references of the block in slot as far as [offset,
// offset + n), each of its chunks from where its scan stopped.
void Applier::PredictChunks(uint32_t slot, uint32_t block, uint32_t offset, uint32_t n) {
    static_assert(kBlockSize % kRefChunk == 0 && kRefChunk < 0x10000, "a block holds whole chunks");
    for (uint32_t chunk = offset / kRefChunk; chunk <= (offset + n - 1) / kRefChunk; ++chunk) {
        const uint32_t end = offset + n - chunk * kRefChunk, need = end < kRefChunk ? end : kRefChunk;
        uint16_t& done = work_->predicted[slot][chunk];
        if (done >= need) continue;
        const uint32_t start = block * kBlockSize + chunk * kRefChunk, left = header_.oldSize - start;
        done = uint16_t(PredictWindow(*refs_, work_->cache[slot] + chunk * kRefChunk, start,
                                      left < kRefChunk ? left : kRefChunk, done, need));
    }
}

// A changed group's n bytes: a flag per byte, most of them "unchanged".
// Invariants: range and code are the coder's (written back around each call
// out), context is DeltaAddState::ChangedContext of byte i.
__attribute__((noinline)) void Applier::ChangedGroup(Coder& coder, DeltaAddState& state, const uint8_t* source,
                                                     uint8_t* target, uint32_t n) {
    DeltaProb* const changedModel = work_->model.changed;
    uint32_t range = coder.range, code = coder.code;
    uint32_t context = state.ChangedContext();
    for (uint32_t i = 0; i < n; ++i) {
        DeltaProb* p = &changedModel[context];
        uint32_t bound = (range >> kDeltaProbBits) * DeltaChanceOfZero(*p);
        const uint8_t byte = source[i];
        uint8_t diff = 0;
        if (code < bound) {
            range = bound;
            DeltaLearn(p, 0);
        } else {
            coder.code = code - bound;
            coder.range = range - bound;
            DeltaLearn(p, 1);
            Normalize(coder);
            state.since = uint8_t(context & 7);
            state.old1 = uint8_t(context >> 3);
            diff = ChangeDiff(coder, state.DiffContext());
            if (diff) state.lastDiff = diff;
            range = coder.range;
            code = coder.code;
        }
        target[i] = uint8_t(byte + diff);
        if (range < kDeltaRangeTop) {
            coder.range = range;
            coder.code = code;
            Normalize(coder);
            range = coder.range;
            code = coder.code;
        }
        context = DeltaAddState::NextChangedContext(context, byte, DeltaAddState::SinceAfter(context & 7, diff));
    }
    coder.range = range;
    coder.code = code;
    state.old2 = n >= 2 ? source[n - 2] : state.old1;
    state.old1 = source[n - 1];
    state.since = uint8_t(context & 7);
}

// n literal bytes, each two nibble trees of four bits, each bit mixed from
// the trees under the byte before and under the two before (DeltaModel::Mix)
// and taught to both. Each bit's chance is chosen from its parent's two
// children, mixed while the parent's bit decodes: the chain from one bit to
// the next is a multiply and a choice, not three table loads. The order-2
// trees (megabytes of them in a literal-heavy file) are fetched ahead: the
// four low trees the high nibble can still choose once two of its bits are
// known, the next byte's two possible high trees once this byte lacks only
// its last bit.
__attribute__((noinline)) void Applier::Literals(Coder& coder, uint8_t* to, uint32_t n, uint8_t* before1,
                                                 uint8_t* before2) {
    DeltaModel& m = work_->model;
    Coder c = coder;
    uint8_t b1 = *before1, b2 = *before2;
    for (uint32_t i = 0; i < n; ++i) {
        DeltaModel::Row order1 = m.Literal(b1);
        DeltaModel::Row order2 = m.Literal2(b1, b2);
        DeltaProb* t1 = m.HighTree(order1);
        DeltaProb* t2 = m.HighTree(order2);
        unsigned byte = 1;
        for (int half = 0; half < 2; ++half) {
            unsigned node = 1;
            uint32_t chance = DeltaModel::Mix(t1[1], t2[1]);
            for (int level = 0; level < 4; ++level) {
                uint32_t chance0 = 0, chance1 = 0;
                if (level < 3) {
                    chance0 = DeltaModel::Mix(t1[2 * node], t2[2 * node]);
                    chance1 = DeltaModel::Mix(t1[2 * node + 1], t2[2 * node + 1]);
                }
                unsigned bit = EvenBit(c, chance);
                DeltaLearn(&t1[node], bit);
                DeltaLearn(&t2[node], bit);
                node = node << 1 | bit;
                chance = bit ? chance1 : chance0;
                if (half == 0 && level == 1) m.Prefetch4Low(order2, (node - 4) * 4);
                if (half == 1 && level == 2) {
                    const unsigned next = (byte & 15) << 4 | (node - 8) << 1;
                    m.PrefetchHigh(m.Literal2(uint8_t(next), b1));
                    m.PrefetchHigh(m.Literal2(uint8_t(next | 1), b1));
                }
            }
            byte = byte << 4 | (node - 16);
            if (half == 0) {
                t1 = m.LowTree(order1, node - 16);
                t2 = m.LowTree(order2, node - 16);
            }
        }
        b2 = b1;
        b1 = uint8_t(byte);
        to[i] = b1;
    }
    coder = c;
    *before1 = b1;
    *before2 = b2;
}

// The add is decoded a group at a time, each group's old bytes taken from
// the cache and its new ones written straight into the output buffer.
ErrorCode Applier::Add(uint32_t count) {
    DeltaModel& m = work_->model;
    DeltaProb* const groupModel = m.group;
    uint8_t* const output = work_->output;
    DeltaAddState state = add_;
    uint8_t before1 = previous_, before2 = previous2_;
    Coder c = coder_;
    ErrorCode error = nullptr;
    while (count) {
        // A stream that ran out stops here, not after decoding the rest of a
        // long count from nothing.
        if (overrun_ > kMaxOverrun) {
            error = ERR_BADDELTA;
            break;
        }
        if (kOutputSize - outFill_ < kDeltaGroup)
            if ((error = FlushOutput())) break;
        uint32_t g = count < kDeltaGroup ? count : kDeltaGroup;
        const uint8_t* source = OldBytes(oldPos_, g, count, &error);
        if (!source) break;
        uint8_t* target = output + outFill_;
        bool changed = Bit(c, &groupModel[state.GroupContext()]);
        if (!changed) {
            std::memcpy(target, source, g);
        } else {
            ChangedGroup(c, state, source, target, g);
        }
        state.NextGroup(source, g, changed);
        before2 = g >= 2 ? target[g - 2] : before1;
        before1 = target[g - 1];
        outFill_ += g;
        oldPos_ += g;
        count -= g;
    }
    coder_ = c;
    add_ = state;
    previous_ = before1;
    previous2_ = before2;
    return error;
}

ErrorCode Applier::Extra(uint32_t count, bool raw) {
    uint8_t* const output = work_->output;
    uint8_t before1 = previous_, before2 = previous2_;
    Coder c = coder_;
    ErrorCode error = nullptr;
    while (count) {
        if (outFill_ == kOutputSize)
            if ((error = FlushOutput())) break;
        if (overrun_ > kMaxOverrun) {
            error = ERR_BADDELTA;
            break;
        }
        uint32_t n = kOutputSize - outFill_;
        if (n > count) n = count;
        if (n > kDeltaGroup) n = kDeltaGroup;
        if (raw) {
            RawBytes(c, output + outFill_, n);
            before2 = n >= 2 ? output[outFill_ + n - 2] : before1;
            before1 = output[outFill_ + n - 1];
        }
        if (!raw) Literals(c, output + outFill_, n, &before1, &before2);
        outFill_ += n;
        count -= n;
    }
    if (!error && outFill_ == kOutputSize) error = FlushOutput();
    coder_ = c;
    previous_ = before1;
    previous2_ = before2;
    return error;
}

void Applier::RawBytes(Coder& c, uint8_t* to, uint32_t n) {
    if (header_.flags & kDeltaFastCoding) {
        for (uint32_t i = 0; i < n; ++i) to[i] = SymbolByte(c);
        return;
    }
    for (uint32_t i = 0; i < n; ++i) {
        unsigned byte = 1;
        while (byte < 0x100) byte = byte << 1 | DirectBit(c);
        to[i] = uint8_t(byte);
    }
}

ErrorCode Applier::Run(uint32_t newSize) {
    work_->model.Init(header_.flags);
    for (uint32_t& tag : work_->tag) tag = 0;
    DeltaModel& m = work_->model;
    Coder c = coder_;
    for (int i = 0; i < 5; ++i) c.code = c.code << 8 | NextByte(c);
    ErrorCode error = nullptr;
    while (!error && produced_ < newSize) {
        unsigned negative = Bit(c, &m.seekSign);
        uint32_t distance = Number(c, &m.seek);
        uint32_t add = Number(c, &m.add);
        if (negative ? distance > oldPos_ : distance > header_.oldSize - oldPos_) return ERR_BADDELTA;
        oldPos_ = negative ? oldPos_ - distance : oldPos_ + distance;
        uint32_t left = newSize - produced_;
        if (add > left || add > header_.oldSize - oldPos_) return ERR_BADDELTA;
        coder_ = c;
        error = Add(add);
        c = coder_;
        if (error) break;
        uint32_t extra = Number(c, &m.extra);
        if (extra > left - add || add + extra == 0) return ERR_BADDELTA;
        bool raw = (header_.flags & kDeltaRawLiterals) && extra >= kDeltaRawMin && Bit(c, &m.extraRaw);
        coder_ = c;
        error = Extra(extra, raw);
        c = coder_;
        produced_ += add + extra;
        if (overrun_ > kMaxOverrun) error = ERR_BADDELTA;
        if (readError_) error = readError_;
    }
    if (!error) error = FlushOutput();
    return error;
}

// "BADRESULT" unless the bytes written have the header's CRC-32 and, when it
// carries one, its digest.
ErrorCode CheckResult(const DeltaHeader& header, uint32_t crc, CDeltaDigest* digest) {
    if (crc != header.newCrc) return ERR_BADRESULT;
    if (!digest) return nullptr;
    uint8_t result[kDeltaDigestSize];
    digest->Finish(result);
    return std::memcmp(result, header.newDigest, kDeltaDigestSize) == 0 ? nullptr : ERR_BADRESULT;
}

// One segment of a segmented delta, decoded here or on a helper thread.
struct Segment {
    Work* work;
    CFile* old;
    const DeltaHeader* header;
    const RefModel* refs;
    uint8_t* stream;  // holds DeltaMaxCoded(kDeltaMaxSegment) bytes
    uint32_t streamSize, newBytes;
    uint8_t* collect;  // the bytes made, for a helper thread; null: written to out
    CFile* out;
    uint32_t crc;  // of the new file up to the segment, then past it
    CDeltaDigest* digest;  // continued over the segment when it is written to out
    ErrorCode error;
};

void DecodeSegment(void* argument) {
    auto* segment = static_cast<Segment*>(argument);
    Applier applier(segment->work, segment->old, nullptr, segment->out, *segment->header, segment->crc,
                    segment->digest, segment->refs);
    applier.SetInput(segment->stream, segment->streamSize, segment->collect);
    segment->error = applier.Run(segment->newBytes);
    segment->crc = applier.Crc();
}

// Reads the next segment's entry and stream; *left is what the new file
// still lacks.
ErrorCode ReadSegment(CFile* delta, uint32_t* left, Segment* segment) {
    uint8_t entry[8];
    uint32_t got = 0;
    ErrorCode error = delta->Read(entry, 8, &got);
    if (error && error != ERR_EOF) return error;
    segment->newBytes = Load32(entry);
    segment->streamSize = Load32(entry + 4);
    if (got != 8 || segment->newBytes == 0 || segment->newBytes > kDeltaMaxSegment || segment->newBytes > *left ||
        segment->streamSize > DeltaMaxCoded(segment->newBytes))
        return ERR_BADDELTA;
    got = 0;
    error = delta->Read(segment->stream, segment->streamSize, &got);
    if (error && error != ERR_EOF) return error;
    if (got != segment->streamSize) return ERR_BADDELTA;
    *left -= segment->newBytes;
    return nullptr;
}

// The segments in pairs: the second of each decoded on a helper thread into
// memory while this thread decodes the first straight to out, then written
// behind it. A pair of short streams (little to decode), or one no thread
// starts for, is decoded here, each segment straight to out.
ErrorCode ApplySegments(CFile* oldFile, CFile* delta, CFile* out, const DeltaHeader& header, CDeltaDigest* digest,
                        const RefModel* refs, const DeltaHelper* helper, CPtrPool* pool) {
    // This thread's blocks, then the helper's: without those, no pairs.
    void* blocks[5] = {};
    const uint32_t sizes[5] = {sizeof(Work), DeltaMaxCoded(kDeltaMaxSegment), sizeof(Work),
                               DeltaMaxCoded(kDeltaMaxSegment), kDeltaMaxSegment};
    bool paired = helper && helper->oldFile;
    for (int i = 0; i < 5; ++i) blocks[i] = i < 2 || paired ? pool->Alloc(sizes[i]) : nullptr;
    paired = paired && blocks[2] && blocks[3] && blocks[4];
    ErrorCode error = blocks[0] && blocks[1] ? nullptr : ERR_NOTENOUGHMEM;
    Segment mine{static_cast<Work*>(blocks[0]), oldFile, &header, refs, static_cast<uint8_t*>(blocks[1]), 0, 0,
                 nullptr, out, 0, digest, nullptr};
    Segment theirs{static_cast<Work*>(blocks[2]), paired ? helper->oldFile : nullptr, &header, refs,
                   static_cast<uint8_t*>(blocks[3]), 0, 0, static_cast<uint8_t*>(blocks[4]), nullptr, 0, nullptr,
                   nullptr};
    uint32_t left = header.newSize, crc = 0;
    while (!error && left) {
        if ((error = ReadSegment(delta, &left, &mine))) break;
        const bool pair = paired && left;
        if (pair && (error = ReadSegment(delta, &left, &theirs))) break;
        const uint32_t mineWork = DeltaSegmentWork(mine.streamSize, mine.newBytes, header.flags);
        const uint32_t theirWork = DeltaSegmentWork(theirs.streamSize, theirs.newBytes, header.flags);
        const bool worth = pair && DeltaPairOnTwoThreads(mineWork, theirWork, helper->pairedFrom);
        void* started = worth ? helper->threads.start(DecodeSegment, &theirs) : nullptr;
        mine.crc = crc;
        DecodeSegment(&mine);
        crc = mine.crc;
        error = mine.error;
        if (!pair || error) {
            if (started) helper->threads.wait(started);
            continue;
        }
        if (!started) {
            Segment here = theirs;
            here.work = mine.work;
            here.old = oldFile;
            here.collect = nullptr;
            here.out = out;
            here.crc = crc;
            here.digest = digest;
            DecodeSegment(&here);
            crc = here.crc;
            error = here.error;
            continue;
        }
        helper->threads.wait(started);
        if ((error = theirs.error)) break;
        uint32_t written = 0;
        error = out->Write(theirs.collect, theirs.newBytes, &written);
        if (!error && written != theirs.newBytes) error = ERR_WRITEFAIL;
        crc = Crc32Update(crc, theirs.collect, theirs.newBytes);
        if (digest) digest->Update(theirs.collect, theirs.newBytes);
    }
    for (int i = 0; i < 5; ++i)
        if (blocks[i]) pool->Free(blocks[i]);
    return error ? error : CheckResult(header, crc, digest);
}

}  // namespace

void MakeDeltaHeader(const DeltaHeader& header, uint8_t out[kDeltaMaxHeaderSize]) {
    const uint32_t fields[6] = {0, header.oldSize, header.oldCrc, header.newSize, header.newCrc, header.flags};
    for (int f = 1; f < 6; ++f)
        for (int i = 0; i < 4; ++i) out[4 * f + i] = uint8_t(fields[f] >> (8 * i));
    std::memcpy(out, kDeltaMagic, 4);
    if (!(header.flags & kDeltaDigests)) return;
    std::memcpy(out + kDeltaHeaderSize, header.oldDigest, kDeltaDigestSize);
    std::memcpy(out + kDeltaHeaderSize + kDeltaDigestSize, header.newDigest, kDeltaDigestSize);
}

ErrorCode ReadDeltaHeader(CFile* delta, DeltaHeader* header) {
    header->source[0] = '\0';
    uint8_t bytes[kDeltaHeaderSize];
    uint32_t got = 0;
    ErrorCode error = delta->Read(bytes, kDeltaHeaderSize, &got);
    if (error && error != ERR_EOF) return error;
    const uint32_t flags = Load32(bytes + 20);
    if (got != kDeltaHeaderSize || std::memcmp(bytes, kDeltaMagic, 4) != 0 || (flags & ~kDeltaKnownFlags) ||
        ((flags & kDeltaSegments) && !(flags & kDeltaFastCoding)) ||
        ((flags & (kDeltaSource | kDeltaBlake3)) && !(flags & kDeltaDigests)))
        return ERR_BADDELTA;
    header->flags = Load32(bytes + 20);
    header->oldSize = Load32(bytes + 4);
    header->oldCrc = Load32(bytes + 8);
    header->newSize = Load32(bytes + 12);
    header->newCrc = Load32(bytes + 16);
    if (!(flags & kDeltaDigests)) return nullptr;
    uint8_t digests[2 * kDeltaDigestSize];
    got = 0;
    error = delta->Read(digests, sizeof digests, &got);
    if (error && error != ERR_EOF) return error;
    if (got != sizeof digests) return ERR_BADDELTA;
    std::memcpy(header->oldDigest, digests, kDeltaDigestSize);
    std::memcpy(header->newDigest, digests + kDeltaDigestSize, kDeltaDigestSize);
    if (!(flags & kDeltaSource)) return nullptr;
    // The length byte and the path read as one field, into the buffer that
    // holds kDeltaMaxSource + 1 bytes.
    uint8_t length = 0;
    got = 0;
    error = delta->Read(&length, 1, &got);
    if (!error && got == 1 && length) error = delta->Read(header->source, length, &got);
    if (error && error != ERR_EOF) return error;
    if (!length || got != length) return ERR_BADDELTA;
    header->source[length] = '\0';
    return std::strlen(header->source) == length && IsPatchFilePath(header->source) ? nullptr : ERR_BADDELTA;
}

// The reference model after the header, into pool memory (*block, to be
// freed by the caller; the model's bytes, then its pieces), read and checked.
static ErrorCode ReadRefModel(CFile* delta, uint32_t oldSize, CPtrPool* pool, void** block, RefModel* model) {
    uint8_t field[4];
    uint32_t got = 0;
    ErrorCode error = delta->Read(field, 4, &got);
    if (error && error != ERR_EOF) return error;
    const uint32_t size = Load32(field);
    if (got != 4 || size > kRefMaxModel) return ERR_BADDELTA;
    const uint32_t bytes = (size + 3) & ~3u;
    if (!(*block = pool->Alloc(bytes + 4 * RefWorkWords(size)))) return ERR_NOTENOUGHMEM;
    uint8_t* const model8 = static_cast<uint8_t*>(*block);
    got = 0;
    error = delta->Read(model8, size, &got);
    if (error && error != ERR_EOF) return error;
    if (got != size ||
        !ParseRefModel(model8, size, oldSize, reinterpret_cast<uint32_t*>(model8 + bytes), model))
        return ERR_BADDELTA;
    return nullptr;
}

ErrorCode ApplyDelta(CFile* oldFile, CFile* delta, CFile* out, const DeltaHelper* helper, CPtrPool* pool) {
    if (!pool) pool = g_pDefaultPtrPool;
    DeltaHeader header;
    if (ErrorCode error = ReadDeltaHeader(delta, &header)) return error;
    if (oldFile->GetSize() != header.oldSize) return ERR_WRONGBASE;
    CDeltaDigest result(MeasureFor(header));
    CDeltaDigest* digest = header.flags & kDeltaDigests ? &result : nullptr;
    RefModel model;
    void* modelBlock = nullptr;
    ErrorCode error = (header.flags & kDeltaReferences)
                          ? ReadRefModel(delta, header.oldSize, pool, &modelBlock, &model)
                          : nullptr;
    const RefModel* refs = modelBlock ? &model : nullptr;
    if (!error && (header.flags & kDeltaSegments)) {
        error = ApplySegments(oldFile, delta, out, header, digest, refs, helper, pool);
    } else if (!error) {
        auto* work = static_cast<Work*>(pool->Alloc(sizeof(Work)));
        if (!work) {
            error = ERR_NOTENOUGHMEM;
        } else {
            Applier applier(work, oldFile, delta, out, header, 0, digest, refs);
            error = applier.Run(header.newSize);
            if (!error) error = CheckResult(header, applier.Crc(), digest);
            pool->Free(work);
        }
    }
    if (modelBlock) pool->Free(modelBlock);
    return error;
}
