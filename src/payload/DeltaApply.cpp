#include <cstring>

#include "payload/Delta.h"
#include "payload/DeltaModel.h"
#include "payload/PatchCrc.h"
#include "pools/DefaultPools.h"

namespace {

constexpr uint32_t kInputSize = 0x10000;
constexpr uint32_t kWindowSize = 0x40000;
constexpr uint32_t kOutputSize = 0x40000;
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
    uint8_t window[kWindowSize];
    uint8_t output[kOutputSize];
};

class Applier {
public:
    Applier(Work* w, CFile* oldFile, CFile* delta, CFile* out, const DeltaHeader& header)
        : work_(w), old_(oldFile), delta_(delta), out_(out), header_(header) {}

    ErrorCode Run();

private:
    bool Fill();
    uint8_t NextByte() {
        if (inPos_ == inEnd_ && !Fill()) {
            ++overrun_;
            return 0;
        }
        return work_->input[inPos_++];
    }
    unsigned Bit(DeltaProb* p) {
        uint32_t bound = (range_ >> kDeltaProbBits) * DeltaChanceOfZero(*p);
        unsigned bit;
        if (code_ < bound) {
            range_ = bound;
            bit = 0;
        } else {
            code_ -= bound;
            range_ -= bound;
            bit = 1;
        }
        DeltaLearn(p, bit);
        while (range_ < kDeltaRangeTop) {
            range_ <<= 8;
            code_ = code_ << 8 | NextByte();
        }
        return bit;
    }
    uint32_t Number(DeltaNumberModel* m) {
        unsigned length = 1;
        for (int i = 0; i < 6; ++i) length = length << 1 | Bit(&m->length[length]);
        length -= 64;
        if (length == 0) return 0;
        if (length > 32) length = 32;  // only a damaged stream says more; the bounds checks refuse it
        uint32_t n = 1;
        for (unsigned i = 0; i + 1 < length; ++i) n = n << 1 | Bit(&m->bits[length][i]);
        return n;
    }
    uint8_t Byte(DeltaProb* tree) {
        unsigned symbol = 1;
        while (symbol < 0x100) symbol = symbol << 1 | Bit(&tree[symbol]);
        return uint8_t(symbol);
    }

    ErrorCode Put(uint8_t byte) {
        work_->output[outFill_++] = byte;
        return outFill_ == kOutputSize ? FlushOutput() : nullptr;
    }
    ErrorCode FlushOutput();
    // Makes [position, position + n) of the old file readable in the window
    // (n <= kWindowSize, the range inside the old file).
    ErrorCode OldBytes(uint32_t position, uint32_t n, const uint8_t** bytes);
    ErrorCode Add(uint32_t count);
    ErrorCode Extra(uint32_t count);

    Work* work_;
    CFile* old_;
    CFile* delta_;
    CFile* out_;
    DeltaHeader header_;
    uint32_t inPos_ = 0, inEnd_ = 0, overrun_ = 0;
    ErrorCode readError_ = nullptr;
    uint32_t range_ = 0xFFFFFFFFu, code_ = 0;
    uint32_t windowStart_ = 0, windowLength_ = 0;
    uint32_t outFill_ = 0, produced_ = 0, crc_ = 0;
    uint32_t oldPos_ = 0;
    uint8_t previous_ = 0;
    DeltaAddState add_;
};

// Refills the input buffer; false at the delta's end or on a read error
// (kept for Run to report).
bool Applier::Fill() {
    if (readError_) return false;
    uint32_t got = 0;
    ErrorCode error = delta_->Read(work_->input, kInputSize, &got);
    if (error && error != ERR_EOF) readError_ = error;
    if (got > kInputSize) got = 0;
    inPos_ = 0;
    inEnd_ = got;
    return got != 0;
}

ErrorCode Applier::FlushOutput() {
    if (outFill_ == 0) return nullptr;
    crc_ = Crc32Update(crc_, work_->output, outFill_);
    uint32_t written = 0;
    ErrorCode error = out_->Write(work_->output, outFill_, &written);
    if (!error && written != outFill_) error = ERR_WRITEFAIL;
    outFill_ = 0;
    return error;
}

ErrorCode Applier::OldBytes(uint32_t position, uint32_t n, const uint8_t** bytes) {
    if (position < windowStart_ || position - windowStart_ > windowLength_ ||
        n > windowLength_ - (position - windowStart_)) {
        uint32_t length = header_.oldSize - position < kWindowSize ? header_.oldSize - position : kWindowSize;
        uint32_t got = 0;
        ErrorCode error = old_->ReadAt(work_->window, position, length, &got);
        if (!error && got != length) error = ERR_READFAIL;
        if (error) {
            windowLength_ = 0;
            return error;
        }
        windowStart_ = position;
        windowLength_ = length;
    }
    *bytes = work_->window + (position - windowStart_);
    return nullptr;
}

// Chunks of the add end on group boundaries, so groups never straddle a
// window or output refill.
ErrorCode Applier::Add(uint32_t count) {
    DeltaModel& m = work_->model;
    DeltaAddState state = add_;
    while (count) {
        if (kOutputSize - outFill_ < kDeltaGroup)
            if (ErrorCode error = FlushOutput()) return error;
        uint32_t n = count < kWindowSize ? count : kWindowSize;
        if (n > kOutputSize - outFill_) n = kOutputSize - outFill_;
        if (n < count) n &= ~(kDeltaGroup - 1);
        const uint8_t* source;
        if (ErrorCode error = OldBytes(oldPos_, n, &source)) return error;
        uint8_t* target = work_->output + outFill_;
        for (uint32_t at = 0; at < n; at += kDeltaGroup) {
            uint32_t g = n - at < kDeltaGroup ? n - at : kDeltaGroup;
            bool changed = Bit(&m.group[state.GroupContext()]);
            if (!changed) {
                std::memcpy(target + at, source + at, g);
            } else {
                for (uint32_t i = at; i < at + g; ++i) {
                    uint8_t diff = 0;
                    if (Bit(&m.changed[state.ChangedContext()])) diff = Byte(state.DiffTree(&m));
                    target[i] = uint8_t(source[i] + diff);
                    state.Next(source[i], diff);
                }
            }
            state.NextGroup(source + at, g, changed);
        }
        previous_ = target[n - 1];
        outFill_ += n;
        oldPos_ += n;
        count -= n;
        if (outFill_ == kOutputSize)
            if (ErrorCode error = FlushOutput()) return error;
    }
    add_ = state;
    return nullptr;
}

ErrorCode Applier::Extra(uint32_t count) {
    while (count--) {
        previous_ = Byte(work_->model.literal[previous_]);
        if (ErrorCode error = Put(previous_)) return error;
    }
    return nullptr;
}

ErrorCode Applier::Run() {
    work_->model.Init();
    for (int i = 0; i < 5; ++i) code_ = code_ << 8 | NextByte();
    DeltaModel& m = work_->model;
    ErrorCode error = nullptr;
    while (!error && produced_ < header_.newSize) {
        unsigned negative = Bit(&m.seekSign);
        uint32_t distance = Number(&m.seek);
        uint32_t add = Number(&m.add);
        if (negative ? distance > oldPos_ : distance > header_.oldSize - oldPos_) return ERR_BADDELTA;
        oldPos_ = negative ? oldPos_ - distance : oldPos_ + distance;
        uint32_t left = header_.newSize - produced_;
        if (add > left || add > header_.oldSize - oldPos_) return ERR_BADDELTA;
        error = Add(add);
        if (error) break;
        uint32_t extra = Number(&m.extra);
        if (extra > left - add || add + extra == 0) return ERR_BADDELTA;
        error = Extra(extra);
        produced_ += add + extra;
        if (overrun_ > kMaxOverrun) error = ERR_BADDELTA;
        if (readError_) error = readError_;
    }
    if (!error) error = FlushOutput();
    if (!error && crc_ != header_.newCrc) error = ERR_BADRESULT;
    return error;
}

}  // namespace

void MakeDeltaHeader(const DeltaHeader& header, uint8_t out[kDeltaHeaderSize]) {
    const uint32_t fields[6] = {0, header.oldSize, header.oldCrc, header.newSize, header.newCrc, 0};
    for (int f = 1; f < 6; ++f)
        for (int i = 0; i < 4; ++i) out[4 * f + i] = uint8_t(fields[f] >> (8 * i));
    std::memcpy(out, kDeltaMagic, 4);
}

ErrorCode ReadDeltaHeader(CFile* delta, DeltaHeader* header) {
    uint8_t bytes[kDeltaHeaderSize];
    uint32_t got = 0;
    ErrorCode error = delta->Read(bytes, kDeltaHeaderSize, &got);
    if (error && error != ERR_EOF) return error;
    if (got != kDeltaHeaderSize || std::memcmp(bytes, kDeltaMagic, 4) != 0 || Load32(bytes + 20) != 0)
        return ERR_BADDELTA;
    header->oldSize = Load32(bytes + 4);
    header->oldCrc = Load32(bytes + 8);
    header->newSize = Load32(bytes + 12);
    header->newCrc = Load32(bytes + 16);
    return nullptr;
}

ErrorCode ApplyDelta(CFile* oldFile, CFile* delta, CFile* out) {
    DeltaHeader header;
    if (ErrorCode error = ReadDeltaHeader(delta, &header)) return error;
    if (oldFile->GetSize() != header.oldSize) return ERR_WRONGBASE;
    auto* work = static_cast<Work*>(g_pDefaultPtrPool->Alloc(sizeof(Work)));
    if (!work) return ERR_NOTENOUGHMEM;
    ErrorCode error = Applier(work, oldFile, delta, out, header).Run();
    g_pDefaultPtrPool->Free(work);
    return error;
}
