#include "payload/Sha256.h"

#include <cstring>

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#define QP_SHA_EXTENSIONS 1
#include <cpuid.h>
#include <immintrin.h>
#else
#define QP_SHA_EXTENSIONS 0
#endif

namespace {

alignas(16) const uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

inline uint32_t Rotr(uint32_t x, int n) { return x >> n | x << (32 - n); }

inline uint32_t LoadBig32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

void BlocksPortable(uint32_t state[8], const uint8_t* p, size_t blocks) {
    for (; blocks; --blocks, p += 64) {
        uint32_t w[64];
        for (int t = 0; t < 16; ++t) w[t] = LoadBig32(p + 4 * t);
        for (int t = 16; t < 64; ++t) {
            const uint32_t s0 = Rotr(w[t - 15], 7) ^ Rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
            const uint32_t s1 = Rotr(w[t - 2], 17) ^ Rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
            w[t] = w[t - 16] + s0 + w[t - 7] + s1;
        }
        uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
        for (int t = 0; t < 64; ++t) {
            const uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) + kRound[t] + w[t];
            const uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            h = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        state[0] += a, state[1] += b, state[2] += c, state[3] += d;
        state[4] += e, state[5] += f, state[6] += g, state[7] += h;
    }
}

#if QP_SHA_EXTENSIONS

#define QP_SHA_TARGET __attribute__((target("sha,ssse3,sse4.1")))

// Four rounds a step, two per instruction; the state lives as the lanes
// ABEF and CDGH, and each step schedules the message words four steps on.
QP_SHA_TARGET void BlocksByExtensions(uint32_t state[8], const uint8_t* p, size_t blocks) {
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    const __m128i dcba = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0xB1);
    const __m128i hgfe = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4)), 0x1B);
    __m128i abef = _mm_alignr_epi8(dcba, hgfe, 8);
    __m128i cdgh = _mm_blend_epi16(hgfe, dcba, 0xF0);
    for (; blocks; --blocks, p += 64) {
        const __m128i abefBefore = abef, cdghBefore = cdgh;
        __m128i w[4];
        for (int i = 0; i < 4; ++i)
            w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i)), byteSwap);
        // Unrolled, the message words stay in registers and the schedule's
        // indices are constants: about 6% faster than the loop. Not in the
        // 32-bit build, whose patcher has little room under its size limit
        // (5% there, for 800 bytes).
#if defined(__x86_64__)
#pragma GCC unroll 16
#endif
        for (int r = 0; r < 16; ++r) {
            const __m128i k = _mm_add_epi32(w[r & 3], _mm_load_si128(reinterpret_cast<const __m128i*>(kRound + 4 * r)));
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, k);
            abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(k, 0x0E));
            if (r < 12) {
                const __m128i last = w[(r + 3) & 3];
                w[r & 3] = _mm_sha256msg2_epu32(
                    _mm_add_epi32(_mm_sha256msg1_epu32(w[r & 3], w[(r + 1) & 3]), _mm_alignr_epi8(last, w[(r + 2) & 3], 4)),
                    last);
            }
        }
        abef = _mm_add_epi32(abef, abefBefore);
        cdgh = _mm_add_epi32(cdgh, cdghBefore);
    }
    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}

bool HasExtensions() {
    // Leaf 7, EBX bit 29: SHA; leaf 1, ECX bits 9 and 19: SSSE3, SSE4.1.
    static const bool has = [] {
        unsigned a = 0, b = 0, c = 0, d = 0;
        if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & (1u << 9)) || !(c & (1u << 19))) return false;
        return __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & (1u << 29));
    }();
    return has;
}

bool s_allowExtensions = true;

void Blocks(uint32_t state[8], const uint8_t* p, size_t blocks) {
    if (s_allowExtensions && HasExtensions())
        BlocksByExtensions(state, p, blocks);
    else
        BlocksPortable(state, p, blocks);
}

#else

void Blocks(uint32_t state[8], const uint8_t* p, size_t blocks) { BlocksPortable(state, p, blocks); }

#endif

}  // namespace

void AllowSha256Extensions(bool allow) {
#if QP_SHA_EXTENSIONS
    s_allowExtensions = allow;
#else
    (void)allow;
#endif
}

CSha256::CSha256()
    : state_{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19} {}

void CSha256::Update(const void* data, size_t size) {
    if (size == 0) return;  // data may be null
    const auto* p = static_cast<const uint8_t*>(data);
    size_t fill = size_t(length_ % 64);
    length_ += size;
    if (fill) {
        const size_t take = size < 64 - fill ? size : 64 - fill;
        std::memcpy(block_ + fill, p, take);
        p += take, size -= take, fill += take;
        if (fill < 64) return;
        Blocks(state_, block_, 1);
    }
    Blocks(state_, p, size / 64);
    std::memcpy(block_, p + size / 64 * 64, size % 64);
}

void CSha256::Finish(uint8_t digest[kSha256Size]) {
    // A one bit, zeros to 56 bytes of the last block, the length in bits.
    const uint64_t bits = length_ * 8;
    uint8_t tail[72] = {0x80};
    const size_t pad = 1 + (119 - size_t(length_ % 64)) % 64;
    for (int i = 0; i < 8; ++i) tail[pad + i] = uint8_t(bits >> (56 - 8 * i));
    Update(tail, pad + 8);
    for (int i = 0; i < 8; ++i)
        for (int k = 0; k < 4; ++k) digest[4 * i + k] = uint8_t(state_[i] >> (24 - 8 * k));
}
