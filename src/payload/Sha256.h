// SHA-256 (FIPS 180-4): the digest that recognises a delta's old and new
// file where a CRC-32 could be matched on purpose (DeltaKey.h).
#pragma once

#include <cstddef>
#include <cstdint>

constexpr unsigned kSha256Size = 32;

class CSha256 {
public:
    CSha256();
    // Continues the digest over size more bytes.
    void Update(const void* data, size_t size);
    // The digest of everything given; the object is spent.
    void Finish(uint8_t digest[kSha256Size]);

private:
    uint32_t state_[8];
    uint64_t length_ = 0;  // bytes given so far
    uint8_t block_[64];    // the partial block, length_ % 64 bytes of it
};

// On processors with the SHA extensions the blocks go through them; this
// forces the portable rounds (false) or allows the extensions again (true),
// for tests and benchmarks.
void AllowSha256Extensions(bool allow);
