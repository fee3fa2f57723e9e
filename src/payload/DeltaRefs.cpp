#include "payload/DeltaRefs.h"

namespace {

constexpr uint32_t kRefRegionBytes = 13;

uint32_t RefLoad32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint64_t RefLoad64(const uint8_t* p) { return uint64_t(RefLoad32(p)) | uint64_t(RefLoad32(p + 4)) << 32; }
void RefStore32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
void RefStore64(uint8_t* p, uint64_t v) {
    RefStore32(p, uint32_t(v));
    RefStore32(p + 4, uint32_t(v >> 32));
}

// Opcodes whose ModRM may name a [disp32] operand: the ALU forms, test,
// xchg, mov, lea, the immediate groups, the x87 loads and stores, and FF
// (its call/jmp/push forms only).
// (One bit per opcode, 32 to a word: 00-0B, 20-3B in fours of eight, 80-8D,
// C6 C7, D9 DD, F6 F7 FE.)
constexpr uint32_t kModRmOps[8] = {0x00000F0F, 0x0F0F0F0F, 0x00000000, 0x00000000,
                                   0x00002FFB, 0x00000000, 0x220000C0, 0x40C00000};
bool TakesModRm(uint8_t op) { return kModRmOps[op >> 5] >> (op & 31) & 1; }

// The high bit of each byte of v that is zero.
inline uint64_t ZeroBytes(uint64_t v) {
    constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
    return ~(((v & kLow7) + kLow7) | v | kLow7);
}

// Of the 8 bytes at p (9 readable), the high bit of each that may start a
// reference: E8/E9, 0F before 80-8F, or any byte before a ModRM of [disp32].
// Code is mostly bytes of none, stepped over 8 at a time.
inline uint64_t MayStart(const uint8_t* p) {
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    const uint64_t x = RefLoad64(p), y = RefLoad64(p + 1);
    return ZeroBytes((x & 0xFE * kOnes) ^ 0xE8 * kOnes) |
           (ZeroBytes(x ^ 0x0F * kOnes) & ZeroBytes((y & 0xF0 * kOnes) ^ 0x80 * kOnes)) |
           ZeroBytes((y & 0xC7 * kOnes) ^ 0x05 * kOnes);
}

class Predictor {
public:
    explicit Predictor(const RefModel& m) : m_(m) {}

    // The pieces starting at or below rva.
    uint32_t Below(uint32_t rva) const {
        uint32_t bucket = rva >> m_.shift;
        if (bucket >= m_.buckets) bucket = m_.buckets - 1;
        uint32_t low = m_.first[bucket], high = m_.first[bucket + 1];
        while (low < high) {
            uint32_t mid = low + (high - low) / 2;
            if (m_.pieces[2 * mid] <= rva)
                low = mid + 1;
            else
                high = mid;
        }
        return low;
    }
    uint32_t MapBy(uint32_t rva, uint32_t below) const { return below ? rva + m_.pieces[2 * below - 1] : rva; }
    uint32_t Map(uint32_t rva) const { return MapBy(rva, Below(rva)); }
    bool Inside(uint32_t rva) const { return rva >= kRefMinRva && rva < m_.imageSize; }
    // mappedNext: where the operand's end (its rva + 4) maps.
    void Relative(uint8_t* p, uint32_t rva, uint32_t mappedNext) const {
        const uint32_t target = rva + 4 + RefLoad32(p);
        if (Inside(target)) RefStore32(p, Map(target) - mappedNext);
    }
    void Address32(uint8_t* p) const {
        const uint32_t rva = RefLoad32(p) - uint32_t(m_.base);
        if (Inside(rva)) RefStore32(p, uint32_t(m_.base) + Map(rva));
    }
    void Address64(uint8_t* p) const {
        const uint64_t rva = RefLoad64(p) - m_.base;
        if (rva < m_.imageSize && Inside(uint32_t(rva))) RefStore64(p, m_.base + Map(uint32_t(rva)));
    }
    void Rva32(uint8_t* p) const {
        if (Inside(RefLoad32(p))) RefStore32(p, Map(RefLoad32(p)));
    }

    // The offset of the operand of a reference whose opcode is at i
    // (i + 5 <= n), 0 for none or one that does not end by n.
    static uint32_t OperandAt(const uint8_t* bytes, uint32_t i, uint32_t n) {
        const uint8_t op = bytes[i], next = bytes[i + 1];
        uint32_t at = 0;
        if ((op & 0xFE) == 0xE8)
            at = i + 1;
        else if (op == 0x0F && (next & 0xF0) == 0x80)
            at = i + 2;
        else if ((next & 0xC7) == 0x05 &&
                 (op == 0xFF ? (next == 0x15 || next == 0x25 || next == 0x35) : TakesModRm(op)))
            at = i + 2;
        return at + 4 <= n ? at : 0;
    }
    // The operand at `at` of the opcode at i, its end at rva end; below: the
    // pieces starting at or below the last operand's end (operands' ends
    // rise, so their pieces follow on).
    void Operand(uint8_t* bytes, uint32_t i, uint32_t at, uint32_t end, bool wide, uint32_t& below) const {
        if (at == i + 1 || bytes[i] == 0x0F || wide) {
            while (below < m_.pieceCount && m_.pieces[2 * below] <= end) ++below;
            Relative(bytes + at, end - 4, MapBy(end, below));
        } else {
            Address32(bytes + at);
        }
    }
    // bytes[0, n) at rva: code of the given width, scanned from i until it
    // reaches limit; returns where it stopped (n when done). Each word of 8
    // bytes gives the bits of the bytes that may start a reference, taken in
    // turn. Invariant: every reference starting before i is rewritten, and
    // none starts inside an operand passed over (the scan goes on from i).
    uint32_t Code(uint8_t* bytes, uint32_t n, uint32_t rva, bool wide, uint32_t i, uint32_t limit) const {
        uint32_t below = Below(rva + i);
        while (i + 9 <= n && i < limit) {
            const uint32_t word = i;
            uint64_t may = MayStart(bytes + word);
            i = word + 8;
            while (may) {
                const uint32_t start = word + unsigned(__builtin_ctzll(may)) / 8;
                may &= may - 1;
                const uint32_t at = OperandAt(bytes, start, n);
                if (at == 0) continue;
                Operand(bytes, start, at, rva + at + 4, wide, below);
                i = at + 4;
                break;
            }
        }
        for (; i + 5 <= n && i < limit; ++i) {
            const uint32_t at = OperandAt(bytes, i, n);
            if (at == 0) continue;
            Operand(bytes, i, at, rva + at + 4, wide, below);
            i = at + 3;
        }
        return i + 5 > n ? n : i;
    }
    // bytes[0, n), skew bytes into a table: its entries from the first at or
    // after i until one reaches limit; returns where it stopped (n when done).
    uint32_t Table(uint8_t* bytes, uint32_t n, uint32_t skew, uint8_t kind, uint32_t i, uint32_t limit) const {
        const uint32_t width = kind == kRefAddress64 ? 8 : 4;
        i += (width - (skew + i) % width) % width;
        for (; i + width <= n && i < limit; i += width) {
            if (kind == kRefAddress32) Address32(bytes + i);
            if (kind == kRefAddress64) Address64(bytes + i);
            if (kind == kRefRva32) Rva32(bytes + i);
        }
        return i + width > n ? n : i;
    }

private:
    const RefModel& m_;
};

}  // namespace

bool ParseRefModel(const uint8_t* bytes, uint32_t size, uint32_t oldSize, uint32_t* work, RefModel* model) {
    if (size < 13) return false;
    model->base = RefLoad64(bytes);
    model->imageSize = RefLoad32(bytes + 8);
    model->regionCount = bytes[12];
    model->regions = bytes + 13;
    const uint32_t regionEnd = 13 + model->regionCount * kRefRegionBytes;
    if (model->regionCount == 0 || model->regionCount > kRefMaxRegions || size < regionEnd + 1) return false;
    uint32_t fileEnd = 0;
    for (uint32_t r = 0; r < model->regionCount; ++r) {
        const uint8_t* region = model->regions + r * kRefRegionBytes;
        const uint32_t offset = RefLoad32(region), length = RefLoad32(region + 4);
        if (offset < fileEnd || length == 0 || length > oldSize - offset || offset > oldSize ||
            region[12] >= kRefKinds)
            return false;
        fileEnd = offset + length;
    }
    // The pieces: their count, then each as the distance from the last
    // one's start and the change of displacement (zigzag), all LEB128.
    const uint8_t* next = bytes + regionEnd;
    const uint8_t* const end = bytes + size;
    auto number = [&](uint32_t* value) {
        uint64_t v = 0;
        for (unsigned shift = 0; next < end && shift < 35; shift += 7) {
            const uint8_t byte = *next++;
            v |= uint64_t(byte & 0x7F) << shift;
            if (!(byte & 0x80)) {
                *value = uint32_t(v);
                return v <= 0xFFFFFFFFu;
            }
        }
        return false;
    };
    if (!number(&model->pieceCount) || model->pieceCount > uint32_t(end - next) / 2) return false;
    uint32_t* const pieces = work;
    uint32_t start = 0, displacement = 0;
    for (uint32_t k = 0; k < model->pieceCount; ++k) {
        uint32_t step, change;
        if (!number(&step) || !number(&change) || (k > 0 && step == 0) || step > 0xFFFFFFFFu - start) return false;
        start += step;
        displacement += (change >> 1) ^ (0u - (change & 1));
        pieces[2 * k] = start;
        pieces[2 * k + 1] = displacement;
    }
    model->pieces = pieces;
    uint32_t* const first = pieces + 2 * model->pieceCount;
    // Counted in 64 bits: an image size of 2^32 - 1 would make 0 buckets.
    model->shift = 0;
    while ((uint64_t(model->imageSize) >> model->shift) + 1 > kRefBuckets) ++model->shift;
    model->buckets = (model->imageSize >> model->shift) + 1;
    for (uint32_t b = 0, k = 0; b < model->buckets; ++b) {
        while (k < model->pieceCount && pieces[2 * k] < uint64_t(b) << model->shift) ++k;
        first[b] = k;
    }
    first[model->buckets] = model->pieceCount;
    model->first = first;
    return next == end;
}

uint32_t PredictWindow(const RefModel& model, uint8_t* window, uint32_t offset, uint32_t size, uint32_t done,
                       uint32_t need) {
    const Predictor predictor(model);
    const uint64_t windowEnd = uint64_t(offset) + size;
    for (uint32_t r = 0; r < model.regionCount && done < need; ++r) {
        const uint8_t* region = model.regions + r * kRefRegionBytes;
        const uint32_t regionStart = RefLoad32(region), rva = RefLoad32(region + 8);
        const uint64_t regionEnd = uint64_t(regionStart) + RefLoad32(region + 4);
        if (regionEnd <= uint64_t(offset) + done) continue;
        if (regionStart >= windowEnd) break;
        // The region's part of the window, [from, to) of it; the bytes
        // before it are no region's.
        const uint32_t from = regionStart > offset ? regionStart - offset : 0;
        const uint32_t to = uint32_t((regionEnd < windowEnd ? regionEnd : windowEnd) - offset);
        if (done < from) done = from;
        if (done >= need) break;
        const uint32_t into = offset + from - regionStart;
        uint8_t* const part = window + from;
        if (region[12] <= kRefCode64)
            done = from + predictor.Code(part, to - from, rva + into, region[12] == kRefCode64, done - from, need - from);
        else
            done = from + predictor.Table(part, to - from, into, region[12], done - from, need - from);
    }
    return done > need ? done : need;
}

void PredictReferences(const RefModel& model, uint8_t* bytes, uint32_t offset, uint32_t size) {
    for (uint32_t at = 0; at < size; at += kRefChunk) {
        const uint32_t n = size - at < kRefChunk ? size - at : kRefChunk;
        PredictWindow(model, bytes + at, offset + at, n, 0, n);
    }
}
