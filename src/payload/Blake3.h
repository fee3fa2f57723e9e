// BLAKE3 (unkeyed hash, 32-byte output): the digest that recognises a new
// delta's old and new file (Delta.h). Its input is cut in 1 KiB chunks that
// are hashed independently and joined in a binary tree, so that many chunks
// go through the processor's vector lanes at once, and the parts of a file
// can be hashed on different threads and joined (CBlake3::Join).
#pragma once

#include <cstddef>
#include <cstdint>

constexpr unsigned kBlake3Size = 32;
constexpr unsigned kBlake3Chunk = 1024;

class CBlake3 {
public:
    CBlake3() = default;
    // A run of the input from its chunk firstChunk on, for Join; it never
    // finishes.
    explicit CBlake3(uint64_t firstChunk) : firstChunk_(firstChunk) {}
    // Continues the digest over size more bytes.
    void Update(const void* data, size_t size);
    // Continues over the bytes given to run, as if given here: run made with
    // the firstChunk of the chunks given here (a whole number of them so
    // far), and given at least one byte unless it is the input's end.
    void Join(const CBlake3& run);
    // The digest of everything given (a run from chunk 0); the object is
    // spent.
    void Finish(uint8_t digest[kBlake3Size]);

private:
    void AddChunks(const uint8_t* first, const uint8_t* rest, size_t count);
    void AddValues(uint8_t (*cvs)[32], size_t count);
    void Push(const uint8_t cv[32], unsigned level);

    // The tree so far, as a stack of chaining values (32 bytes, the words
    // little-endian). Invariants:
    // - The chunks [firstChunk_, firstChunk_ + chunks_) are folded in. The
    //   stack holds, in their order, the values of complete subtrees
    //   covering them: stack_[i] of 2^levels_[i] chunks, at a multiple of
    //   that in the input; no two neighbours are siblings (equal levels, the
    //   left one at a multiple of twice their size). From chunk 0 that is one
    //   value per one bit of chunks_, the bottom for the highest.
    // - The last chunk given is never folded in (chunk_ holds it, 0 to 1024
    //   bytes): every value in the stack has input after it, so none of them
    //   is the root, and joining two of them is never the root's join.
    // Pushing the value of 2^k chunks at a multiple of 2^k, then joining the
    // top two while they are siblings, keeps both. A run from elsewhere
    // holds at most the subtrees rising to an alignment and falling from it:
    // 64 values for any run within 2^32 chunks.
    uint8_t stack_[64][32];
    uint8_t levels_[64];
    unsigned depth_ = 0;
    uint64_t chunks_ = 0;
    uint64_t firstChunk_ = 0;  // the input's chunk the run starts at
    uint32_t fill_ = 0;        // bytes in chunk_
    uint8_t chunk_[kBlake3Chunk];

};

// On processors with AVX-512 or AVX2 many chunks are compressed at once in
// the vector lanes; this forces the portable compression (false) or allows
// the vectors again (true), for tests and benchmarks.
void AllowBlake3Vectors(bool allow);
