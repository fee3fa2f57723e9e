#include "DeltaEncode.h"

#include "DeltaExtend.h"
#include "DeltaRefModel.h"
#include "ThreadWork.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <thread>

#include "payload/Delta.h"
#include "payload/DeltaContent.h"
#include "payload/DeltaModel.h"
#include "payload/DeltaRefs.h"
#include "payload/PatchCrc.h"

namespace {

using Command = DeltaCommand;  // new positions follow one another

class RangeEncoder {
public:
    explicit RangeEncoder(std::vector<uint8_t>* out) : out_(out) {}

    void Bit(DeltaProb* p, unsigned bit) { BitAt(DeltaChanceOfZero(*p), p, nullptr, bit); }
    void BitAt(uint32_t zero, DeltaProb* p, DeltaProb* q, unsigned bit) {
        uint32_t bound = (range_ >> kDeltaProbBits) * zero;
        if (!bit) {
            range_ = bound;
        } else {
            low_ += bound;
            range_ -= bound;
        }
        if (p) DeltaLearn(p, bit);
        if (q) DeltaLearn(q, bit);
        while (range_ < kDeltaRangeTop) {
            range_ <<= 8;
            ShiftLow();
        }
    }
    // A byte as 8 bits at even odds, no model taught.
    void RawByte(uint8_t value) {
        for (int i = 7; i >= 0; --i) BitAt(kDeltaEvenOdds, nullptr, nullptr, (value >> i) & 1);
    }
    // A byte as one symbol of 256 equal chances, no model taught.
    void SymbolByte(uint8_t value) {
        range_ >>= 8;
        low_ += uint64_t(value) * range_;
        while (range_ < kDeltaRangeTop) {
            range_ <<= 8;
            ShiftLow();
        }
    }
    void Number(DeltaNumberModel* m, uint32_t n) {
        unsigned length = DeltaBitLength(n);
        unsigned node = 1;
        for (int i = 5; i >= 0; --i) {
            unsigned bit = (length >> i) & 1;
            Bit(&m->length[node], bit);
            node = node << 1 | bit;
        }
        for (unsigned i = 0; i + 1 < length; ++i) Bit(&m->bits[length][i], (n >> (length - 2 - i)) & 1);
    }
    void Byte(DeltaModel* model, DeltaModel::Row row, uint8_t value) {
        Nibble(model->HighTree(row), value >> 4);
        Nibble(model->LowTree(row, value >> 4), value & 15);
    }
    // A nonzero diff under its context: with fast coding, first whether it
    // is one of the last two seen there.
    void Diff(DeltaModel* model, uint32_t context, uint8_t diff, bool fast) {
        if (fast) {
            uint8_t* seen = model->diffSeen[context];
            bool found = false;
            for (int k = 0; k < 2 && !found; ++k) {
                if (!seen[k]) continue;
                found = diff == seen[k];
                Bit(&model->diffHit[context][k], !found);
            }
            DeltaRememberDiff(seen, diff);
            if (found) return;
        }
        Byte(model, model->Diff(context), diff);
    }
    // A literal's nibble under the two literal models, mixed.
    void LiteralNibble(const DeltaModel& model, DeltaProb* order1, DeltaProb* order2, unsigned value) {
        for (unsigned node = 1, b = 4; b-- > 0;) {
            unsigned bit = (value >> b) & 1;
            BitAt(model.Mix(order1[node], order2[node]), &order1[node], &order2[node], bit);
            node = node << 1 | bit;
        }
    }
    void Finish() {
        for (int i = 0; i < 5; ++i) ShiftLow();
    }

private:
    void Nibble(DeltaProb* tree, unsigned value) {
        for (unsigned node = 1, b = 4; b-- > 0;) {
            unsigned bit = (value >> b) & 1;
            Bit(&tree[node], bit);
            node = node << 1 | bit;
        }
    }
    void ShiftLow() {
        if (uint32_t(low_) < 0xFF000000u || (low_ >> 32) != 0) {
            uint8_t carry = uint8_t(low_ >> 32);
            uint8_t temp = cache_;
            do {
                out_->push_back(uint8_t(temp + carry));
                temp = 0xFF;
            } while (--cacheSize_ != 0);
            cache_ = uint8_t(low_ >> 24);
        }
        ++cacheSize_;
        low_ = (low_ & 0x00FFFFFFu) << 8;
    }

    std::vector<uint8_t>* out_;
    uint64_t low_ = 0;
    uint32_t range_ = 0xFFFFFFFFu;
    uint8_t cache_ = 0;
    uint64_t cacheSize_ = 1;
};

constexpr unsigned kSeed = 8;        // bytes hashed per position of the old file
constexpr unsigned kChainDepth = 16; // candidates tried per seed looked up
// Every second old position is indexed, which halves the index; a search
// looks up the seeds at both p and p + 1, one of which meets an indexed
// start of any match a byte longer than a seed.
constexpr size_t kIndexStride = 2;

size_t MatchLength(const uint8_t* a, const uint8_t* b, size_t max) {
    size_t n = 0;
    while (n + 8 <= max) {
        uint64_t x = Load64(a + n) ^ Load64(b + n);
        if (x) return n + size_t(__builtin_ctzll(x) >> 3);
        n += 8;
    }
    while (n < max && a[n] == b[n]) ++n;
    return n;
}

// Hash chains over every kIndexStride-th position of the old file.
class OldIndex {
public:
    OldIndex(const uint8_t* old, size_t size) : old_(old), size_(size) {
        unsigned bits = 12;  // a head per eight positions: the chains do the rest
        while (bits < 24 && (size_t(1) << bits) < size / 8) ++bits;
        shift_ = 64 - bits;
        head_.assign(size_t(1) << bits, 0);
        if (size < kSeed) return;
        // Every link is written below: no zero fill.
        chain_.reset(new uint32_t[(size - kSeed) / kIndexStride + 1]);
        for (size_t i = 0; i + kSeed <= size; i += kIndexStride) {
            uint32_t& head = head_[Hash(old + i)];
            chain_[i / kIndexStride] = head;
            head = uint32_t(i + 1);
        }
    }

    // Longest match found for the max bytes at p; its old position in *pos.
    size_t Search(const uint8_t* p, size_t max, size_t* pos) const {
        if (size_ < kSeed) return 0;
        size_t best = 0;
        for (size_t k = 0; k < kIndexStride && k + kSeed <= max; ++k) {
            uint32_t candidate = head_[Hash(p + k)];
            for (unsigned depth = 0; candidate && depth < kChainDepth; ++depth) {
                size_t indexed = candidate - 1;
                candidate = chain_[indexed / kIndexStride];
                if (indexed < k) continue;
                size_t c = indexed - k;
                size_t limit = std::min(max, size_ - c);
                if (best >= limit || old_[c + best] != p[best]) continue;
                size_t length = MatchLength(old_ + c, p, limit);
                if (length > best) {
                    best = length;
                    *pos = c;
                    if (best == max) return best;
                }
            }
        }
        return best;
    }

private:
    size_t Hash(const uint8_t* p) const { return size_t((Load64(p) * 0x9E3779B97F4A7C15ull) >> shift_); }

    const uint8_t* old_;
    size_t size_;
    unsigned shift_;
    std::vector<uint32_t> head_;
    std::unique_ptr<uint32_t[]> chain_;
};

// Approximate matching over new[begin, end): exact matches found through the
// index are extended forwards and backwards while at least half the bytes
// agree, so recompiled code whose addresses changed stays one add with a
// sparse diff instead of many short matches.
void MatchRange(const OldIndex& index, const uint8_t* old, int64_t oldSize, const uint8_t* neu, int64_t begin,
                int64_t end, std::vector<Command>* commands) {
    // A match this long that does not pay for a new command is stepped over
    // by half its length rather than byte by byte: each search costs up to
    // its length times the chain depth, so the work stays linear.
    constexpr int64_t kSkipLength = 64;
    // A match may reach back over bytes already matched in the previous
    // alignment (recompiled code often lines up better in the new one), but
    // that reach is paid from a budget growing with the bytes scanned, so
    // that matches reaching back over one another stay linear in all.
    constexpr int64_t kReachPerByte = 8, kReachStart = int64_t(1) << 20;
    int64_t reachBudget = kReachStart, budgetScan = begin;
    int64_t scan = begin, len = 0, pos = 0;
    int64_t lastScan = begin, lastPos = std::min(begin, oldSize), lastOffset = lastPos - begin;
    // Whether new[at] agrees with the old byte in the current alignment.
    auto agrees = [&](int64_t at) {
        int64_t o = at + lastOffset;
        return o >= 0 && o < oldSize && old[o] == neu[at];
    };
    while (scan < end) {
        int64_t oldScore = 0;
        int64_t scsc = scan += len;
        const int64_t matchedUpTo = scan;  // the end of the last exact match
        for (; scan < end;) {
            size_t found = 0;
            len = int64_t(index.Search(neu + scan, size_t(end - scan), &found));
            pos = int64_t(found);
            for (; scsc < scan + len; ++scsc)
                if (agrees(scsc)) ++oldScore;
            if ((len == oldScore && len != 0) || len > oldScore + 8) break;
            const int64_t step = len >= kSkipLength ? len / 2 : 1;
            for (int64_t next = std::min(end, scan + step); scan < next; ++scan)
                if (agrees(scan)) --oldScore;
        }
        if (len == oldScore && scan != end) continue;

        int64_t lengthForward =
            ReachForward(old + lastPos, neu + lastScan, std::min(scan - lastScan, oldSize - lastPos));
        int64_t lengthBack = 0;
        if (scan < end) {
            reachBudget += kReachPerByte * (scan - budgetScan);
            budgetScan = scan;
            int64_t from = std::max(lastScan, matchedUpTo - std::max<int64_t>(reachBudget, 0));
            reachBudget -= 2 * std::max<int64_t>(matchedUpTo - from, 0);  // scanned back now, forwards next
            lengthBack = ReachBackward(old + pos, neu + scan, std::min(scan - from, pos));
        }
        if (lastScan + lengthForward > scan - lengthBack) {
            int64_t overlap = (lastScan + lengthForward) - (scan - lengthBack);
            int64_t s = 0, best = 0;
            int64_t lengthSplit = 0;
            for (int64_t i = 0; i < overlap; ++i) {
                if (neu[lastScan + lengthForward - overlap + i] == old[lastPos + lengthForward - overlap + i]) ++s;
                if (neu[scan - lengthBack + i] == old[pos - lengthBack + i]) --s;
                if (s > best) {
                    best = s;
                    lengthSplit = i + 1;
                }
            }
            lengthForward += lengthSplit - overlap;
            lengthBack -= lengthSplit;
        }
        int64_t extra = (scan - lengthBack) - (lastScan + lengthForward);
        if (lengthForward + extra > 0)
            commands->push_back({uint32_t(lastPos), uint32_t(lengthForward), uint32_t(extra)});
        lastScan = scan - lengthBack;
        lastPos = pos - lengthBack;
        lastOffset = pos - scan;
    }
}

// Whether literal bytes look like noise (compressed or random data), which
// the literal models would code in more than 8 bits a byte: their byte
// histogram about as flat as n random bytes give (whose measured entropy
// falls short of 8 bits by about 184 / n).
bool LooksLikeNoise(const uint8_t* bytes, uint32_t n) {
    uint32_t counts[256] = {};
    for (uint32_t i = 0; i < n; ++i) ++counts[bytes[i]];
    double bits = 0;
    for (uint32_t count : counts)
        if (count) bits -= count * std::log2(double(count) / n);
    return bits / n >= 7.9 - 184.0 / n;
}

// Bits per byte of the new file around [at, at + n) by its byte histogram.
double LocalEntropy(const uint8_t* neu, size_t newSize, size_t at, size_t n) {
    size_t begin = at > 256 ? at - 256 : 0, end = std::min(newSize, at + n + 256);
    uint32_t counts[256] = {};
    for (size_t i = begin; i < end; ++i) ++counts[neu[i]];
    double bits = 0, total = double(end - begin);
    for (uint32_t count : counts)
        if (count) bits -= count * std::log2(count / total);
    return bits / total;
}

// A short add amid bytes the literal models code cheaply (text, runs of a
// few values) costs more as a command than its bytes as literals: it joins
// the literals of the command before.
std::vector<Command> MergeShortAdds(const std::vector<Command>& commands, const uint8_t* neu, size_t newSize) {
    // A command costs some 20 to 30 bits; these bounds were set on the
    // benchmark pairs (programs keep their short adds, packs of text lose them).
    constexpr double kMaxLiteralBits = 112;
    constexpr uint32_t kMaxAdd = 64;
    std::vector<Command> merged;
    size_t newPos = 0;
    for (const Command& c : commands) {
        if (!merged.empty() && c.add && c.add < kMaxAdd &&
            c.add * LocalEntropy(neu, newSize, newPos, c.add) < kMaxLiteralBits)
            merged.back().extra += c.add + c.extra;
        else
            merged.push_back(c);
        newPos += c.add + c.extra;
    }
    return merged;
}

// oldAt(position, n): the old file's n bytes at position.
template <class OldAt>
void WriteCommands(const std::vector<Command>& commands, const OldAt& oldAt, const uint8_t* neu, uint32_t flags,
                   std::vector<uint8_t>* out) {
    // Left unfilled: Init sets up what the coding reads (the byte trees as
    // they are first used), so a small file does not pay for zeroing 10 MB.
    std::unique_ptr<DeltaModel> model(new DeltaModel);
    model->Init(flags);
    RangeEncoder coder(out);
    uint32_t oldPos = 0, newPos = 0;
    DeltaAddState add;
    for (const Command& c : commands) {
        uint32_t target = c.add ? c.oldStart : oldPos;
        bool negative = target < oldPos;
        coder.Bit(&model->seekSign, negative);
        coder.Number(&model->seek, negative ? oldPos - target : target - oldPos);
        coder.Number(&model->add, c.add);
        oldPos = target;
        for (uint32_t at = 0; at < c.add; at += kDeltaGroup) {
            uint32_t g = std::min(c.add - at, kDeltaGroup);
            const uint8_t* o = oldAt(oldPos + at, g);
            const uint8_t* n = neu + newPos + at;
            bool changed = std::memcmp(o, n, g) != 0;
            coder.Bit(&model->group[add.GroupContext()], changed);
            for (uint32_t i = 0; changed && i < g; ++i) {
                uint8_t diff = uint8_t(n[i] - o[i]);
                coder.Bit(&model->changed[add.ChangedContext()], diff != 0);
                if (diff) coder.Diff(model.get(), add.DiffContext(), diff, flags & kDeltaFastCoding);
                add.Next(o[i], diff);
            }
            add.NextGroup(o, g, changed);
        }
        oldPos += c.add;
        newPos += c.add;
        coder.Number(&model->extra, c.extra);
        if ((flags & kDeltaRawLiterals) && c.extra >= kDeltaRawMin) {
            bool raw = LooksLikeNoise(neu + newPos, c.extra);
            coder.Bit(&model->extraRaw, raw);
            if (raw) {
                for (uint32_t k = 0; k < c.extra; ++k)
                    if (flags & kDeltaFastCoding)
                        coder.SymbolByte(neu[newPos + k]);
                    else
                        coder.RawByte(neu[newPos + k]);
                newPos += c.extra;
                continue;
            }
        }
        for (uint32_t k = 0; k < c.extra; ++k, ++newPos) {
            uint8_t before1 = newPos ? neu[newPos - 1] : 0, before2 = newPos > 1 ? neu[newPos - 2] : 0;
            DeltaModel::Row order1 = model->Literal(before1);
            DeltaModel::Row order2 = model->Literal2(before1, before2);
            unsigned high = neu[newPos] >> 4;
            coder.LiteralNibble(*model, model->HighTree(order1), model->HighTree(order2), high);
            coder.LiteralNibble(*model, model->LowTree(order1, high), model->LowTree(order2, high), neu[newPos] & 15);
        }
    }
    coder.Finish();
}

// The rebuild's work for a command, roughly, in nanoseconds (fitted to the
// decoding times of postgres' segments): the command's own numbers,
// unchanged groups copied, changed groups decoded byte by byte with a diff
// for each changed byte, literals bit by bit through the mixed models, noise
// a byte a step. The add's share (with the command's own), then the extra's.
struct CommandWork {
    double add, extra;
};
CommandWork WorkOf(const Command& c, const uint8_t* old, const uint8_t* neu) {
    double work = 600 + 0.5 * c.add;
    for (uint32_t at = 0; at < c.add; at += kDeltaGroup) {
        const uint32_t g = std::min(c.add - at, kDeltaGroup);
        const uint8_t *o = old + c.oldStart + at, *n = neu + at;
        if (std::memcmp(o, n, g) == 0) continue;
        work += 4.0 * g;
        for (uint32_t i = 0; i < g; ++i) work += o[i] != n[i] ? 45 : 0;
    }
    const bool noise = c.extra >= kDeltaRawMin && LooksLikeNoise(neu + c.add, c.extra);
    return {work, (noise ? 5.0 : 100.0) * c.extra};
}

// Cuts the commands (of the whole new file) into segments of about equal
// decoding work, splitting commands where the cuts fall: at least count of
// them and as many as kDeltaMaxSegment new bytes a segment needs, an even
// number (the rebuild decodes them two at a time on two threads: an odd one
// out would be decoded alone), more only where a segment reaches that size
// first. Each segment's share is the work left over the segments left, so
// that one cut short by the size limit does not leave the last with the
// rest. Each segment's first new position in *starts.
std::vector<std::vector<Command>> CutSegments(const std::vector<Command>& commands, const uint8_t* old,
                                              const uint8_t* neu, size_t count, std::vector<size_t>* starts) {
    std::vector<CommandWork> work(commands.size());
    double left = 0;  // work not yet in a segment
    size_t newPos = 0;
    for (size_t k = 0; k < commands.size(); ++k) {
        work[k] = WorkOf(commands[k], old, neu + newPos);
        left += work[k].add + work[k].extra;
        newPos += commands[k].add + commands[k].extra;
    }
    count = std::max(count, (newPos + kDeltaMaxSegment - 1) / kDeltaMaxSegment);
    count += count % 2;
    std::vector<std::vector<Command>> segments;
    size_t bytes = kDeltaMaxSegment;  // of the current segment: none yet, so the first piece opens one
    double done = 0, target = 0;      // work in the current segment, and its share
    newPos = 0;
    for (size_t k = 0; k < commands.size(); ++k) {
        Command c = commands[k];
        // The work of the first n of the command's bytes left: its add's
        // and its extra's bytes each at their own rate.
        const double perAdd = c.add ? work[k].add / c.add : 0;
        const double perExtra = c.extra ? (work[k].extra + (c.add ? 0 : work[k].add)) / c.extra : 0;
        const auto workOf = [&](uint32_t n) {
            return n <= c.add ? perAdd * n : perAdd * c.add + perExtra * (n - c.add);
        };
        for (uint32_t length = c.add + c.extra; length;) {
            const bool last = segments.size() >= count;
            if (bytes == kDeltaMaxSegment || (!last && !segments.empty() && done >= target)) {
                target = left / double(segments.size() < count ? count - segments.size() : 1);
                segments.emplace_back();
                starts->push_back(newPos);
                bytes = 0;
                done = 0;
            }
            uint32_t take = uint32_t(std::min<size_t>(length, kDeltaMaxSegment - bytes));
            if (segments.size() < count && workOf(take) > target - done) {
                // The fewest bytes (at least one) that reach the share.
                uint32_t low = 1, high = take;
                while (low < high) {
                    const uint32_t middle = low + (high - low) / 2;
                    if (workOf(middle) >= target - done)
                        high = middle;
                    else
                        low = middle + 1;
                }
                take = low;
            }
            const double taken = workOf(take);
            Command head = c;
            if (take <= c.add) {
                head.add = take;
                head.extra = 0;
                c.oldStart += take;
                c.add -= take;
            } else {
                head.extra = take - c.add;
                c.extra -= head.extra;
                c.add = 0;
            }
            segments.back().push_back(head);
            bytes += take;
            done += taken;
            left -= taken;
            newPos += take;
            length -= take;
        }
    }
    return segments;
}

}  // namespace

namespace {

std::vector<Command> MatchFiles(const uint8_t* old, size_t oldSize, const uint8_t* neu, size_t newSize,
                                unsigned threads) {
    // The new file is cut into pieces by its size alone, never by the number
    // of threads, so that a patch has the same bytes however it was built;
    // the threads take the pieces in turn.
    const size_t kPieceSize = size_t(4) << 20;
    const size_t pieces = std::max<size_t>(1, newSize / kPieceSize);
    OldIndex index(old, oldSize);
    std::vector<std::vector<Command>> parts(pieces);
    std::atomic<size_t> next{0};
    auto match = [&] {
        for (size_t k; (k = next++) < pieces;) {
            int64_t begin = int64_t(uint64_t(newSize) * k / pieces);
            int64_t end = int64_t(uint64_t(newSize) * (k + 1) / pieces);
            MatchRange(index, old, int64_t(oldSize), neu, begin, end, &parts[k]);
        }
    };
    RunOnThreads(unsigned(std::min<size_t>(threads, pieces)), match);

    // Each list freed as soon as it is copied: the lists of a much changed
    // file are not small.
    std::vector<Command> commands;
    for (auto& part : parts) {
        commands.insert(commands.end(), part.begin(), part.end());
        std::vector<Command>().swap(part);
    }
    return MergeShortAdds(commands, neu, newSize);
}

// The delta of commands against old (the old file as the patcher reads it:
// with a reference model, its references predicted), the model after the
// header.
std::vector<uint8_t> WriteDelta(DeltaHeader header, const std::vector<Command>& commands, const uint8_t* old,
                                const uint8_t* neu, size_t newSize, unsigned threads,
                                const DeltaSegmenting& segmenting, const std::vector<uint8_t>& refModel) {
    uint32_t flags = header.flags;
    std::vector<uint8_t> out(DeltaHeaderSize(flags));
    if (flags & kDeltaReferences) {
        for (int i = 0; i < 4; ++i) out.push_back(uint8_t(refModel.size() >> (8 * i)));
        out.insert(out.end(), refModel.begin(), refModel.end());
    }
    const auto inMemory = [old](uint32_t position, uint32_t) { return old + position; };
    std::atomic<size_t> next{0};
    // Fewer than two segments make no pair.
    if ((flags & kDeltaSegments) && newSize / std::max<size_t>(segmenting.size, 1) < 2)
        header.flags = flags &= ~kDeltaSegments;
    if (flags & kDeltaSegments) {
        std::vector<size_t> starts;
        const std::vector<std::vector<Command>> segments =
            CutSegments(commands, old, neu, newSize / std::max<size_t>(segmenting.size, 1), &starts);
        std::vector<std::vector<uint8_t>> streams(segments.size());
        next = 0;
        auto write = [&] {
            for (size_t k; (k = next++) < segments.size();)
                WriteCommands(segments[k], inMemory, neu + starts[k], flags, &streams[k]);
        };
        RunOnThreads(unsigned(std::min<size_t>(threads, std::max<size_t>(segments.size(), 1))), write);
        // Segments pay only where the rebuild decodes a pair of them on two
        // threads; a segment longer coded than the patcher takes (never seen
        // but on made-up data) cannot be sent at all.
        starts.push_back(newSize);
        bool paired = false, fits = true;
        for (size_t k = 0; k < segments.size(); ++k) {
            fits = fits && streams[k].size() <= DeltaMaxCoded(uint32_t(starts[k + 1] - starts[k]));
            // Streams alone (a segment's least work), so that a stream of
            // code short in every segment stays one: segments cost bytes.
            paired = paired || (k % 2 == 1 && DeltaPairOnTwoThreads(uint32_t(streams[k - 1].size()),
                                                                    uint32_t(streams[k].size()), segmenting.pairedFrom));
        }
        if (paired && fits) {
            for (size_t k = 0; k < segments.size(); ++k) {
                const uint32_t entry[2] = {uint32_t(starts[k + 1] - starts[k]), uint32_t(streams[k].size())};
                for (uint32_t field : entry)
                    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(field >> (8 * i)));
                out.insert(out.end(), streams[k].begin(), streams[k].end());
                std::vector<uint8_t>().swap(streams[k]);
            }
            MakeDeltaHeader(header, out.data());
            return out;
        }
        header.flags = flags &= ~kDeltaSegments;
    }
    WriteCommands(commands, inMemory, neu, flags, &out);
    MakeDeltaHeader(header, out.data());
    return out;
}


}  // namespace

namespace {

DeltaHeader HeaderOf(const uint8_t* old, size_t oldSize, const uint8_t* neu, size_t newSize, uint32_t flags) {
    DeltaHeader header;
    header.oldSize = uint32_t(oldSize);
    header.oldCrc = Crc32(old, oldSize);
    header.newSize = uint32_t(newSize);
    header.newCrc = Crc32(neu, newSize);
    header.flags = flags;
    if (flags & kDeltaDigests) {
        CDeltaDigest oldDigest(MeasureFor(header)), newDigest(MeasureFor(header));
        oldDigest.Update(old, oldSize);
        oldDigest.Finish(header.oldDigest);
        newDigest.Update(neu, newSize);
        newDigest.Finish(header.newDigest);
    }
    return header;
}

unsigned Threads(unsigned threads) { return threads ? threads : std::max(1u, std::thread::hardware_concurrency()); }

}  // namespace

std::vector<uint8_t> EncodeDelta(const uint8_t* old, size_t oldSize, const uint8_t* neu, size_t newSize,
                                 unsigned threads, uint32_t flags, const DeltaSegmenting& segmenting) {
    threads = Threads(threads);
    const std::vector<Command> commands = MatchFiles(old, oldSize, neu, newSize, threads);
    std::vector<uint8_t> plain = WriteDelta(HeaderOf(old, oldSize, neu, newSize, flags & ~kDeltaReferences),
                                            commands, old, neu, newSize, threads, segmenting, {});
    // Machine code: matched again against the old file with its references
    // predicted through the map the first match shows, kept when smaller.
    const std::vector<uint8_t> refModel =
        (flags & kDeltaReferences) ? BuildRefModel(old, oldSize, neu, newSize, commands) : std::vector<uint8_t>();
    if (refModel.empty()) return plain;
    std::vector<uint8_t> coded = EncodeDeltaPredicted(old, oldSize, neu, newSize, refModel, threads, flags, segmenting);
    return !coded.empty() && coded.size() < plain.size() ? coded : plain;
}

std::vector<uint8_t> EncodeDeltaPredicted(const uint8_t* old, size_t oldSize, const uint8_t* neu, size_t newSize,
                                          const std::vector<uint8_t>& refModel, unsigned threads, uint32_t flags,
                                          const DeltaSegmenting& segmenting) {
    RefModel model;
    std::vector<uint32_t> work(refModel.size() <= kRefMaxModel ? RefWorkWords(uint32_t(refModel.size())) : 0);
    if (refModel.size() > kRefMaxModel ||
        !ParseRefModel(refModel.data(), uint32_t(refModel.size()), uint32_t(oldSize), work.data(), &model))
        return {};
    threads = Threads(threads);
    std::vector<uint8_t> predicted(old, old + oldSize);
    PredictReferences(model, predicted.data(), 0, uint32_t(oldSize));
    const std::vector<Command> commands = MatchFiles(predicted.data(), oldSize, neu, newSize, threads);
    return WriteDelta(HeaderOf(old, oldSize, neu, newSize, flags | kDeltaReferences), commands, predicted.data(),
                      neu, newSize, threads, segmenting, refModel);
}

std::vector<uint8_t> EncodeDeltaCommands(const DeltaHeader& header, const std::vector<DeltaCommand>& commands,
                                         const std::function<const uint8_t*(uint32_t, uint32_t)>& oldAt,
                                         const uint8_t* neu) {
    std::vector<uint8_t> out(DeltaHeaderSize(header.flags));
    WriteCommands(commands, oldAt, neu, header.flags, &out);
    MakeDeltaHeader(header, out.data());
    return out;
}

void AddDeltaSource(std::vector<uint8_t>* delta, const std::string& source) {
    uint8_t* flags = delta->data() + 20;
    flags[0] |= kDeltaSource;
    const auto at = delta->insert(delta->begin() + kDeltaMaxHeaderSize, source.begin(), source.end());
    delta->insert(at, uint8_t(source.size()));
}
