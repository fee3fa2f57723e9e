#include "DeltaRefModel.h"

#include <algorithm>

#include "ExecutableImage.h"

namespace {

// Adds shorter than this say little about where code moved.
constexpr uint32_t kMinEvidence = 32;

struct Move {
    uint32_t oldRva, length, displacement;
};

void PutModel(std::vector<uint8_t>* out, uint64_t value, unsigned width) {
    for (unsigned i = 0; i < width; ++i) out->push_back(uint8_t(value >> (8 * i)));
}

void PutNumber(std::vector<uint8_t>* out, uint32_t value) {
    for (; value >= 0x80; value >>= 7) out->push_back(uint8_t(value | 0x80));
    out->push_back(uint8_t(value));
}

}  // namespace

std::vector<uint8_t> BuildRefModel(const uint8_t* old, size_t oldSize, const uint8_t* neu, size_t newSize,
                                   const std::vector<DeltaCommand>& commands) {
    ExecutableImage from, to;
    if (!ReadExecutableImage(old, oldSize, &from) || !ReadExecutableImage(neu, newSize, &to)) return {};
    // Each add, cut where either side leaves a section, moves its old rvas.
    std::vector<Move> moves;
    uint32_t newPos = 0;
    for (const DeltaCommand& c : commands) {
        for (uint32_t at = 0; at < c.add;) {
            uint32_t oldRva, newRva, oldLeft, newLeft;
            if (!from.RvaOf(c.oldStart + at, &oldRva, &oldLeft) || !to.RvaOf(newPos + at, &newRva, &newLeft)) {
                ++at;
                continue;
            }
            const uint32_t n = std::min({c.add - at, oldLeft, newLeft});
            if (n >= kMinEvidence) moves.push_back({oldRva, n, newRva - oldRva});
            at += n;
        }
        newPos += c.add + c.extra;
    }
    std::stable_sort(moves.begin(), moves.end(), [](const Move& a, const Move& b) { return a.oldRva < b.oldRva; });
    // The map: a piece where the displacement changes. Where adds of old
    // bytes overlap, the longer one's displacement holds over the shorter.
    std::vector<Move> pieces;
    for (const Move& m : moves) {
        if (!pieces.empty()) {
            Move& last = pieces.back();
            if (m.displacement == last.displacement) {
                last.length = std::max(last.length, m.oldRva + m.length - last.oldRva);
                continue;
            }
            if (m.oldRva + m.length <= last.oldRva + last.length && m.length < last.length) continue;
            if (m.oldRva == last.oldRva) {
                if (m.length > last.length) last = m;
                continue;
            }
        }
        pieces.push_back(m);
    }
    std::vector<uint8_t> model;
    PutModel(&model, from.base, 8);
    PutModel(&model, from.imageSize, 4);
    PutModel(&model, from.sections.size(), 1);
    for (const ImageSection& s : from.sections) {
        PutModel(&model, s.offset, 4);
        PutModel(&model, s.size, 4);
        PutModel(&model, s.rva, 4);
        PutModel(&model, s.kind, 1);
    }
    PutNumber(&model, uint32_t(pieces.size()));
    uint32_t start = 0, displacement = 0;
    for (const Move& p : pieces) {
        const uint32_t change = p.displacement - displacement;
        PutNumber(&model, p.oldRva - start);
        PutNumber(&model, change & 0x80000000u ? ((0u - change) << 1) - 1 : change << 1);
        start = p.oldRva;
        displacement = p.displacement;
    }
    if (model.size() > kRefMaxModel) return {};
    return model;
}
