#include "payload/Blake3Pieces.h"

#include <atomic>

namespace {

constexpr uint64_t kChunksPerPiece = kBlake3Piece / kBlake3Chunk;

// A spinning thread's hint to the processor (a short wait for the other
// thread, which runs on another processor).
inline void Relax() {
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
    __builtin_ia32_pause();
#endif
}

// The pieces of one file between the reading thread and the hashing ones.
// Invariants:
// - Piece p lies in slot p % kBlake3Slots from its read until its value is
//   joined; the reader reads piece p only once piece p - kBlake3Slots is
//   joined, so a slot holds one piece at a time.
// - Pieces [0, readUpTo) are read (release: their bytes are seen by the
//   thread that claims them); [0, claimed) are taken, each by the one thread
//   whose compare-exchange moved claimed past it.
// - hashed[slot] is set (release) once the slot's value is in cv, and
//   cleared by the reader when it joins that value: the hashing thread
//   touches the slot no more.
struct Pieces {
    uint8_t* ring = nullptr;
    uint32_t count = 0;  // the whole pieces hashed apart: each followed by more bytes
    std::atomic<uint32_t> readUpTo{0};
    std::atomic<uint32_t> claimed{0};
    std::atomic<bool> hashed[kBlake3Slots] = {};
    std::atomic<bool> stop{false};
    uint8_t cv[kBlake3Slots][32];

    // Hashes the next piece read and not yet taken; false when there is none.
    bool HashOne() {
        uint32_t piece = claimed.load(std::memory_order_relaxed);
        do {
            if (piece >= readUpTo.load(std::memory_order_acquire)) return false;
        } while (!claimed.compare_exchange_weak(piece, piece + 1, std::memory_order_relaxed));
        const unsigned slot = unsigned(piece % kBlake3Slots);
        Blake3Subtree(ring + size_t(slot) * kBlake3Piece, kChunksPerPiece, uint64_t(piece) * kChunksPerPiece, cv[slot]);
        hashed[slot].store(true, std::memory_order_release);
        return true;
    }
};

void HashOnHelper(void* argument) {
    auto* pieces = static_cast<Pieces*>(argument);
    while (!pieces->stop.load(std::memory_order_acquire))
        if (!pieces->HashOne()) Relax();
}

ErrorCode ReadWhole(CFile* file, uint8_t* buffer, uint32_t size) {
    uint32_t got = 0;
    if (ErrorCode error = file->Read(buffer, size, &got)) return error;
    return got == size ? nullptr : ERR_EOF;
}

}  // namespace

ErrorCode MeasureBlake3Pieces(CFile* file, uint8_t* ring, const HelperThreads& threads, DeltaContent* content) {
    *content = DeltaContent{};
    content->size = file->GetSize();
    if (ErrorCode error = file->Seek(0, ORIGIN_BEGIN)) return error;
    Pieces pieces;
    pieces.ring = ring;
    pieces.count = content->size ? (content->size - 1) / kBlake3Piece : 0;
    void* helper = pieces.count > 1 ? threads.start(HashOnHelper, &pieces) : nullptr;
    // Reading comes first (the helper waits on it), then joining in order,
    // then hashing what the helper has not taken.
    CBlake3 tree;
    ErrorCode error = nullptr;
    for (uint32_t read = 0, joined = 0; joined < pieces.count;) {
        const unsigned next = unsigned(joined % kBlake3Slots);
        if (read < pieces.count && read - joined < kBlake3Slots) {
            if ((error = ReadWhole(file, ring + size_t(read % kBlake3Slots) * kBlake3Piece, kBlake3Piece))) break;
            pieces.readUpTo.store(++read, std::memory_order_release);
        } else if (pieces.hashed[next].load(std::memory_order_acquire)) {
            tree.AddSubtree(pieces.cv[next], kChunksPerPiece);
            pieces.hashed[next].store(false, std::memory_order_relaxed);
            ++joined;
        } else if (!pieces.HashOne()) {
            Relax();
        }
    }
    pieces.stop.store(true, std::memory_order_release);
    if (helper) threads.wait(helper);
    if (error) return error;
    // The rest after the pieces, 1 to kBlake3Piece bytes (none when empty).
    const uint32_t rest = content->size - pieces.count * kBlake3Piece;
    if ((error = ReadWhole(file, ring, rest))) return error;
    tree.Update(ring, rest);
    tree.Finish(content->blake3);
    content->measured = kMeasureBlake3;
    return nullptr;
}
