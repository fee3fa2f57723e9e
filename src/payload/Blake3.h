// BLAKE3 (unkeyed hash, 32-byte output): the digest that recognises a new
// delta's old and new file (Delta.h). Its input is cut in 1 KiB chunks that
// are hashed independently and joined in a binary tree, so that many chunks
// go through the processor's vector lanes at once, and aligned pieces of a
// file can be hashed on different threads and joined (Blake3Subtree).
#pragma once

#include <cstddef>
#include <cstdint>

constexpr unsigned kBlake3Size = 32;
constexpr unsigned kBlake3Chunk = 1024;

class CBlake3 {
public:
    CBlake3() = default;
    // Continues the digest over size more bytes.
    void Update(const void* data, size_t size);
    // Continues the digest over the subtree of `chunks` chunks whose chaining
    // value Blake3Subtree gave: chunks a power of two, the bytes given so far
    // a multiple of chunks * kBlake3Chunk, and more bytes to follow the
    // subtree (its value would need the root's flag otherwise).
    void AddSubtree(const uint8_t cv[32], uint64_t chunks);
    // The digest of everything given; the object is spent.
    void Finish(uint8_t digest[kBlake3Size]);

private:
    void AddChunks(const uint8_t* first, const uint8_t* rest, size_t count);
    void AddValues(uint8_t (*cvs)[32], size_t count);
    void Push(const uint8_t cv[32], unsigned level);

    // The tree so far, as a stack of chaining values (32 bytes, the words
    // little-endian). Invariants:
    // - chunks_ chunks are folded in; the stack holds one value per one bit
    //   of chunks_, the bottom for the highest bit: the value of the complete
    //   subtree of 2^bit chunks at that place, the top the rightmost.
    // - The last chunk given is never folded in (chunk_ holds it, 0 to 1024
    //   bytes): every value in the stack has input after it, so none of them
    //   is the root, and joining two of them is never the root's join.
    // Pushing the value of 2^k chunks at a multiple of 2^k chunks and then
    // joining the top two while the stack is deeper than the one bits of
    // chunks_ keeps both.
    uint8_t stack_[64][32];
    unsigned depth_ = 0;
    uint64_t chunks_ = 0;
    uint64_t firstChunk_ = 0;  // the counter of chunk 0 (Blake3Subtree's pieces)
    uint32_t fill_ = 0;        // bytes in chunk_
    uint8_t chunk_[kBlake3Chunk];

    friend void Blake3Subtree(const uint8_t*, uint64_t, uint64_t, uint8_t*);
};

// The chaining value of the chunks [first, first + chunks) of an input, data
// holding them: chunks a power of two and first a multiple of it, so that
// they make one complete subtree (CBlake3::AddSubtree takes it).
void Blake3Subtree(const uint8_t* data, uint64_t chunks, uint64_t first, uint8_t cv[32]);

// On processors with AVX-512 or AVX2 many chunks are compressed at once in
// the vector lanes; this forces the portable compression (false) or allows
// the vectors again (true), for tests and benchmarks.
void AllowBlake3Vectors(bool allow);
