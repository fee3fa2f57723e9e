#include "payload/Blake3.h"

#include <cstring>

// The vector kernels only in 64-bit builds: the 32-bit patcher has no room
// for them under its size limit (20 KB; its eight vector registers would
// spill anyway).
#if defined(__x86_64__) && defined(__GNUC__)
#define QP_BLAKE3_VECTORS 1
#include <cpuid.h>
#include <immintrin.h>
#else
#define QP_BLAKE3_VECTORS 0
#endif

namespace {

constexpr uint32_t kIv[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                             0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
constexpr uint32_t kChunkStart = 1, kChunkEnd = 2, kParent = 4, kRoot = 8;
constexpr unsigned kBlocksPerChunk = kBlake3Chunk / 64;
constexpr unsigned kRounds = 7;

// The message word each G input of a round takes: the words are permuted
// between rounds, round r reading word at[r][i] of the block.
struct Schedule {
    uint8_t at[kRounds][16];
};
constexpr Schedule MakeSchedule() {
    const uint8_t permutation[16] = {2, 6, 3, 10, 7, 0, 4, 13, 1, 11, 12, 5, 9, 14, 15, 8};
    Schedule s{};
    for (int i = 0; i < 16; ++i) s.at[0][i] = uint8_t(i);
    for (unsigned r = 1; r < kRounds; ++r)
        for (int i = 0; i < 16; ++i) s.at[r][i] = s.at[r - 1][permutation[i]];
    return s;
}
constexpr Schedule kSchedule = MakeSchedule();

// One round: G on the columns of the 4x4 state, then on its diagonals, the
// message words in pairs in schedule order.
#define QP_BLAKE3_ROUND(G, v, m, s)              \
    G(v, 0, 4, 8, 12, m[s[0]], m[s[1]]);         \
    G(v, 1, 5, 9, 13, m[s[2]], m[s[3]]);         \
    G(v, 2, 6, 10, 14, m[s[4]], m[s[5]]);        \
    G(v, 3, 7, 11, 15, m[s[6]], m[s[7]]);        \
    G(v, 0, 5, 10, 15, m[s[8]], m[s[9]]);        \
    G(v, 1, 6, 11, 12, m[s[10]], m[s[11]]);      \
    G(v, 2, 7, 8, 13, m[s[12]], m[s[13]]);       \
    G(v, 3, 4, 9, 14, m[s[14]], m[s[15]])

inline uint32_t Rotr(uint32_t x, int n) { return x >> n | x << (32 - n); }

inline uint32_t LoadLittle32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void StoreLittle32(uint8_t* p, uint32_t x) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(x >> 8 * i);
}

inline void G(uint32_t* v, int a, int b, int c, int d, uint32_t x, uint32_t y) {
    v[a] += v[b] + x;
    v[d] = Rotr(v[d] ^ v[a], 16);
    v[c] += v[d];
    v[b] = Rotr(v[b] ^ v[c], 12);
    v[a] += v[b] + y;
    v[d] = Rotr(v[d] ^ v[a], 8);
    v[c] += v[d];
    v[b] = Rotr(v[b] ^ v[c], 7);
}

// The compression of one block of len bytes (the rest zeros) into the
// chaining value cv (in place).
void Compress(uint32_t cv[8], const uint8_t block[64], uint32_t len, uint64_t counter, uint32_t flags) {
    uint32_t m[16];
    for (int i = 0; i < 16; ++i) m[i] = LoadLittle32(block + 4 * i);
    uint32_t v[16] = {cv[0],  cv[1],  cv[2],  cv[3],           cv[4],                    cv[5], cv[6], cv[7],
                      kIv[0], kIv[1], kIv[2], kIv[3], uint32_t(counter), uint32_t(counter >> 32), len,  flags};
    for (unsigned r = 0; r < kRounds; ++r) {
        QP_BLAKE3_ROUND(G, v, m, kSchedule.at[r]);
    }
    for (int i = 0; i < 8; ++i) cv[i] = v[i] ^ v[i + 8];
}

void StoreValue(uint8_t out[32], const uint32_t cv[8]) {
    for (int i = 0; i < 8; ++i) StoreLittle32(out + 4 * i, cv[i]);
}

// The chaining value of one input of whole blocks, as CompressMany below.
void CompressPortable(const uint8_t* in, size_t blocks, uint64_t counter, uint32_t flags, uint32_t start,
                      uint32_t end, uint8_t out[32]) {
    uint32_t cv[8];
    std::memcpy(cv, kIv, sizeof cv);
    for (size_t b = 0; b < blocks; ++b)
        Compress(cv, in + 64 * b, 64, counter, flags | (b == 0 ? start : 0) | (b + 1 == blocks ? end : 0));
    StoreValue(out, cv);
}

#if QP_BLAKE3_VECTORS

#define QP_AVX512 __attribute__((target("avx512f")))
#define QP_AVX2 __attribute__((target("avx2")))

// 16 inputs side by side, lane l of vector i holding state word i of input l.

// The masked forms with every lane kept: the plain ones leave GCC 12
// warning of their undefined source operand.
template <int n>
QP_AVX512 inline __m512i Rotr(__m512i x) {
    return _mm512_maskz_ror_epi32(0xFFFF, x, n);
}

QP_AVX512 inline __m512i Unpack32(__m512i a, __m512i b, bool high) {
    return high ? _mm512_maskz_unpackhi_epi32(0xFFFF, a, b) : _mm512_maskz_unpacklo_epi32(0xFFFF, a, b);
}
QP_AVX512 inline __m512i Unpack64(__m512i a, __m512i b, bool high) {
    return high ? _mm512_maskz_unpackhi_epi64(0xFF, a, b) : _mm512_maskz_unpacklo_epi64(0xFF, a, b);
}
template <int lanes>
QP_AVX512 inline __m512i Shuffle128(__m512i a, __m512i b) {
    return _mm512_maskz_shuffle_i32x4(0xFFFF, a, b, lanes);
}

QP_AVX512 inline void G16(__m512i* v, int a, int b, int c, int d, __m512i x, __m512i y) {
    v[a] = _mm512_add_epi32(_mm512_add_epi32(v[a], v[b]), x);
    v[d] = Rotr<16>(_mm512_xor_si512(v[d], v[a]));
    v[c] = _mm512_add_epi32(v[c], v[d]);
    v[b] = Rotr<12>(_mm512_xor_si512(v[b], v[c]));
    v[a] = _mm512_add_epi32(_mm512_add_epi32(v[a], v[b]), y);
    v[d] = Rotr<8>(_mm512_xor_si512(v[d], v[a]));
    v[c] = _mm512_add_epi32(v[c], v[d]);
    v[b] = Rotr<7>(_mm512_xor_si512(v[b], v[c]));
}

// Block `at` of the 16 inputs as message words: m[w] lane l = word w of
// input l. Rows paired by 32-bit words, then 64-bit, then 128-bit lanes;
// unrolled, the steps stay in registers (30% faster).
QP_AVX512 inline void Transpose16(const uint8_t* const in[16], size_t at, __m512i m[16]) {
    __m512i t[16], u[16];
#pragma GCC unroll 8
    for (int i = 0; i < 16; i += 2) {
        const __m512i a = _mm512_loadu_si512(in[i] + at), b = _mm512_loadu_si512(in[i + 1] + at);
        t[i] = Unpack32(a, b, false);  // a0 b0 a1 b1 of each 128-bit lane
        t[i + 1] = Unpack32(a, b, true);  // a2 b2 a3 b3
    }
#pragma GCC unroll 4
    for (int g = 0; g < 16; g += 4) {  // u[g + j]: word j of each 128-bit lane, rows g to g + 3
        u[g] = Unpack64(t[g], t[g + 2], false);
        u[g + 1] = Unpack64(t[g], t[g + 2], true);
        u[g + 2] = Unpack64(t[g + 1], t[g + 3], false);
        u[g + 3] = Unpack64(t[g + 1], t[g + 3], true);
    }
#pragma GCC unroll 4
    for (int j = 0; j < 4; ++j) {  // 128-bit lane k of m[4l + j] is lane l of u[4k + j]
        const __m512i ab01 = Shuffle128<0x44>(u[j], u[4 + j]);
        const __m512i ab23 = Shuffle128<0xEE>(u[j], u[4 + j]);
        const __m512i cd01 = Shuffle128<0x44>(u[8 + j], u[12 + j]);
        const __m512i cd23 = Shuffle128<0xEE>(u[8 + j], u[12 + j]);
        m[j] = Shuffle128<0x88>(ab01, cd01);
        m[4 + j] = Shuffle128<0xDD>(ab01, cd01);
        m[8 + j] = Shuffle128<0x88>(ab23, cd23);
        m[12 + j] = Shuffle128<0xDD>(ab23, cd23);
    }
}

// CompressMany for exactly 16 inputs. Hot loop invariants: before block b,
// h holds the 16 chaining values after blocks 0 to b - 1; lo and hi hold
// each lane's counter, fixed over the blocks. Within a block, v is the
// state and m the message words, lane l that of input l.
QP_AVX512 void Compress16(const uint8_t* const in[16], size_t blocks, uint64_t counter, bool countUp, uint32_t flags,
                          uint32_t start, uint32_t end, uint8_t out[16][32]) {
    const __m512i low = _mm512_set1_epi32(int(uint32_t(counter)));
    const __m512i high = _mm512_set1_epi32(int(uint32_t(counter >> 32)));
    const __m512i lo = _mm512_add_epi32(low, countUp ? _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15)
                                                     : _mm512_setzero_si512());
    const __m512i hi = _mm512_mask_add_epi32(high, _mm512_cmplt_epu32_mask(lo, low), high, _mm512_set1_epi32(1));
    __m512i h[8];
    for (int i = 0; i < 8; ++i) h[i] = _mm512_set1_epi32(int(kIv[i]));
    for (size_t b = 0; b < blocks; ++b) {
        __m512i m[16];
        Transpose16(in, 64 * b, m);
        const uint32_t f = flags | (b == 0 ? start : 0) | (b + 1 == blocks ? end : 0);
        __m512i v[16] = {h[0], h[1], h[2], h[3], h[4], h[5], h[6], h[7],
                         _mm512_set1_epi32(int(kIv[0])), _mm512_set1_epi32(int(kIv[1])),
                         _mm512_set1_epi32(int(kIv[2])), _mm512_set1_epi32(int(kIv[3])),
                         lo, hi, _mm512_set1_epi32(64), _mm512_set1_epi32(int(f))};
#pragma GCC unroll 7
        for (unsigned r = 0; r < kRounds; ++r) {
            QP_BLAKE3_ROUND(G16, v, m, kSchedule.at[r]);
        }
        for (int i = 0; i < 8; ++i) h[i] = _mm512_xor_si512(v[i], v[i + 8]);
    }
    alignas(64) uint32_t words[8][16];
    for (int i = 0; i < 8; ++i) _mm512_store_si512(words[i], h[i]);
    for (int l = 0; l < 16; ++l)
        for (int i = 0; i < 8; ++i) std::memcpy(out[l] + 4 * i, &words[i][l], 4);
}

// 8 inputs side by side, as above.

QP_AVX2 inline __m256i Rotr16(__m256i x) {
    return _mm256_shuffle_epi8(x, _mm256_setr_epi8(2, 3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13, 2, 3, 0, 1,
                                                   6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13));
}
QP_AVX2 inline __m256i Rotr8(__m256i x) {
    return _mm256_shuffle_epi8(x, _mm256_setr_epi8(1, 2, 3, 0, 5, 6, 7, 4, 9, 10, 11, 8, 13, 14, 15, 12, 1, 2, 3, 0,
                                                   5, 6, 7, 4, 9, 10, 11, 8, 13, 14, 15, 12));
}
template <int n>
QP_AVX2 inline __m256i Rotr(__m256i x) {
    return _mm256_or_si256(_mm256_srli_epi32(x, n), _mm256_slli_epi32(x, 32 - n));
}

QP_AVX2 inline void G8(__m256i* v, int a, int b, int c, int d, __m256i x, __m256i y) {
    v[a] = _mm256_add_epi32(_mm256_add_epi32(v[a], v[b]), x);
    v[d] = Rotr16(_mm256_xor_si256(v[d], v[a]));
    v[c] = _mm256_add_epi32(v[c], v[d]);
    v[b] = Rotr<12>(_mm256_xor_si256(v[b], v[c]));
    v[a] = _mm256_add_epi32(_mm256_add_epi32(v[a], v[b]), y);
    v[d] = Rotr8(_mm256_xor_si256(v[d], v[a]));
    v[c] = _mm256_add_epi32(v[c], v[d]);
    v[b] = Rotr<7>(_mm256_xor_si256(v[b], v[c]));
}

// Block `at` of the 8 inputs as message words, in two halves of 8 words.
QP_AVX2 inline void Transpose8(const uint8_t* const in[8], size_t at, __m256i m[8]) {
    __m256i t[8], u[8];
#pragma GCC unroll 4
    for (int i = 0; i < 8; i += 2) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in[i] + at));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in[i + 1] + at));
        t[i] = _mm256_unpacklo_epi32(a, b);
        t[i + 1] = _mm256_unpackhi_epi32(a, b);
    }
#pragma GCC unroll 2
    for (int g = 0; g < 8; g += 4) {
        u[g] = _mm256_unpacklo_epi64(t[g], t[g + 2]);
        u[g + 1] = _mm256_unpackhi_epi64(t[g], t[g + 2]);
        u[g + 2] = _mm256_unpacklo_epi64(t[g + 1], t[g + 3]);
        u[g + 3] = _mm256_unpackhi_epi64(t[g + 1], t[g + 3]);
    }
#pragma GCC unroll 4
    for (int j = 0; j < 4; ++j) {
        m[j] = _mm256_permute2x128_si256(u[j], u[4 + j], 0x20);
        m[4 + j] = _mm256_permute2x128_si256(u[j], u[4 + j], 0x31);
    }
}

// CompressMany for exactly 8 inputs, with the invariants of Compress16.
QP_AVX2 void Compress8(const uint8_t* const in[8], size_t blocks, uint64_t counter, bool countUp, uint32_t flags,
                       uint32_t start, uint32_t end, uint8_t out[8][32]) {
    const __m256i low = _mm256_set1_epi32(int(uint32_t(counter)));
    const __m256i lo = _mm256_add_epi32(low, countUp ? _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7) : _mm256_setzero_si256());
    // A carry where lo < low unsigned: the compare's -1 subtracted adds it.
    const __m256i sign = _mm256_set1_epi32(int(0x80000000u));
    const __m256i carry = _mm256_cmpgt_epi32(_mm256_xor_si256(low, sign), _mm256_xor_si256(lo, sign));
    const __m256i hi = _mm256_sub_epi32(_mm256_set1_epi32(int(uint32_t(counter >> 32))), carry);
    __m256i h[8];
    for (int i = 0; i < 8; ++i) h[i] = _mm256_set1_epi32(int(kIv[i]));
    for (size_t b = 0; b < blocks; ++b) {
        __m256i m[16];
        Transpose8(in, 64 * b, m);
        Transpose8(in, 64 * b + 32, m + 8);
        const uint32_t f = flags | (b == 0 ? start : 0) | (b + 1 == blocks ? end : 0);
        __m256i v[16] = {h[0], h[1], h[2], h[3], h[4], h[5], h[6], h[7],
                         _mm256_set1_epi32(int(kIv[0])), _mm256_set1_epi32(int(kIv[1])),
                         _mm256_set1_epi32(int(kIv[2])), _mm256_set1_epi32(int(kIv[3])),
                         lo, hi, _mm256_set1_epi32(64), _mm256_set1_epi32(int(f))};
#pragma GCC unroll 7
        for (unsigned r = 0; r < kRounds; ++r) {
            QP_BLAKE3_ROUND(G8, v, m, kSchedule.at[r]);
        }
        for (int i = 0; i < 8; ++i) h[i] = _mm256_xor_si256(v[i], v[i + 8]);
    }
    alignas(32) uint32_t words[8][8];
    for (int i = 0; i < 8; ++i) _mm256_store_si256(reinterpret_cast<__m256i*>(words[i]), h[i]);
    for (int l = 0; l < 8; ++l)
        for (int i = 0; i < 8; ++i) std::memcpy(out[l] + 4 * i, &words[i][l], 4);
}

// The widest vectors the processor and its system have: 16, 8 or 1 lanes.
unsigned DetectLanes() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    // Leaf 1, ECX bit 27: the system saves the extended registers (XGETBV).
    if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & (1u << 27))) return 1;
    unsigned xcr0 = 0, xcr0High = 0;
    __asm__("xgetbv" : "=a"(xcr0), "=d"(xcr0High) : "c"(0));
    (void)xcr0High;
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d) || (xcr0 & 6) != 6) return 1;
    // Leaf 7, EBX bit 16: AVX-512F, its registers saved (XCR0 bits 5-7);
    // bit 5: AVX2.
    if ((b & (1u << 16)) && (xcr0 & 0xE0) == 0xE0) return 16;
    return b & (1u << 5) ? 8 : 1;
}

bool s_allowVectors = true;

unsigned Lanes() {
    static const unsigned lanes = DetectLanes();
    return s_allowVectors ? lanes : 1;
}

#else

unsigned Lanes() { return 1; }

#endif

// The chaining values of count inputs of `blocks` whole blocks each, input
// i at in[i] with the counter counter (+ i when countUp) and the flags,
// start added on the first block and end on the last. out may be the
// inputs' own memory when out[i] never lies past in[2i]: each group of
// inputs is read whole before its values are written.
void CompressMany(const uint8_t* const* in, size_t count, size_t blocks, uint64_t counter, bool countUp,
                  uint32_t flags, uint32_t start, uint32_t end, uint8_t (*out)[32]) {
    const unsigned lanes = Lanes();
    while (count) {
        size_t n = 1;
        uint8_t values[16][32];
#if QP_BLAKE3_VECTORS
        const unsigned width = lanes == 16 && count > 8 ? 16 : lanes >= 8 && count > 1 ? 8 : 1;
        if (width > 1) {
            // A short group repeats its last input in the lanes left over.
            const uint8_t* group[16];
            n = count < width ? count : width;
            for (unsigned l = 0; l < width; ++l) group[l] = in[l < n ? l : n - 1];
            if (width == 16)
                Compress16(group, blocks, counter, countUp, flags, start, end, values);
            else
                Compress8(group, blocks, counter, countUp, flags, start, end, values);
        } else
#else
        (void)lanes;
#endif
        {
            CompressPortable(in[0], blocks, counter, flags, start, end, values[0]);
        }
        std::memcpy(out, values, 32 * n);
        in += n, out += n, count -= n;
        if (countUp) counter += n;
    }
}

// Chunks, and the values joined from them, per call of the kernels.
constexpr size_t kBatch = 128;

}  // namespace

void AllowBlake3Vectors(bool allow) {
#if QP_BLAKE3_VECTORS
    s_allowVectors = allow;
#else
    (void)allow;
#endif
}

void CBlake3::Update(const void* data, size_t size) {
    if (size == 0) return;  // data may be null
    const auto* p = static_cast<const uint8_t*>(data);
    const size_t take = size < kBlake3Chunk - fill_ ? size : kBlake3Chunk - fill_;
    std::memcpy(chunk_ + fill_, p, take);
    fill_ += uint32_t(take);
    p += take, size -= take;
    if (size == 0) return;
    // The held chunk is whole and followed by more: it and every whole chunk
    // after it but the last (held in its place) go into the tree.
    const size_t whole = (size - 1) / kBlake3Chunk;
    AddChunks(chunk_, p, 1 + whole);
    p += whole * kBlake3Chunk, size -= whole * kBlake3Chunk;
    std::memcpy(chunk_, p, size);
    fill_ = uint32_t(size);
}

void CBlake3::Join(const CBlake3& run) {
    if (!run.depth_ && !run.fill_) return;
    // The chunk held here is followed by the run's bytes.
    if (fill_) AddChunks(chunk_, nullptr, 1);
    fill_ = 0;
    for (unsigned i = 0; i < run.depth_; ++i) Push(run.stack_[i], run.levels_[i]);
    Update(run.chunk_, run.fill_);
}

void CBlake3::AddChunks(const uint8_t* first, const uint8_t* rest, size_t count) {
    const uint8_t* inputs[kBatch];
    uint8_t values[kBatch][32];
    while (count) {
        size_t n = 0;
        if (first) inputs[n++] = first;
        first = nullptr;
        for (; n < kBatch && n < count; ++n, rest += kBlake3Chunk) inputs[n] = rest;
        CompressMany(inputs, n, kBlocksPerChunk, firstChunk_ + chunks_, true, 0, kChunkStart, kChunkEnd, values);
        AddValues(values, n);
        count -= n;
    }
}

// values: count subtrees of one chunk each, in order from chunks_ on. Level
// by level, a right sibling (of the stack's top) goes onto it, the rest are
// joined in pairs by the kernels, and an odd one out waits: it lies right
// of everything above its level, so the waiting ones go on last, highest
// level first.
void CBlake3::AddValues(uint8_t (*values)[32], size_t count) {
    const uint8_t* waiting[64];
    unsigned waitingLevel[64];
    unsigned waits = 0;
    for (unsigned level = 0; count;) {
        if ((firstChunk_ + chunks_) >> level & 1 || count == 1) {
            Push(values[0], level);
            ++values, --count;
            continue;
        }
        if (count & 1) waiting[waits] = values[count - 1], waitingLevel[waits++] = level;
        const uint8_t* pairs[kBatch / 2];
        for (size_t i = 0; i < count / 2; ++i) pairs[i] = values[2 * i];
        CompressMany(pairs, count / 2, 1, 0, false, kParent, 0, 0, values);
        count /= 2;
        ++level;
    }
    while (waits) {
        --waits;
        Push(waiting[waits], waitingLevel[waits]);
    }
}

void CBlake3::Push(const uint8_t cv[32], unsigned level) {
    std::memcpy(stack_[depth_], cv, 32);
    levels_[depth_++] = uint8_t(level);
    chunks_ += uint64_t(1) << level;
    const uint64_t end = firstChunk_ + chunks_;
    while (depth_ >= 2 && levels_[depth_ - 1] == levels_[depth_ - 2]) {
        const unsigned both = levels_[depth_ - 1];
        if ((end - (uint64_t(2) << both)) >> both & 1) break;  // the left one not at a multiple of twice
        --depth_;
        CompressPortable(stack_[depth_ - 1], 1, 0, kParent, 0, 0, stack_[depth_ - 1]);
        levels_[depth_ - 1] = uint8_t(both + 1);
    }
}

void CBlake3::Finish(uint8_t digest[kBlake3Size]) {
    // The held chunk (an empty input's one empty block included), then its
    // value joined to the stack's from the top down; the last compression
    // carries the root's flag.
    std::memset(chunk_ + fill_, 0, kBlake3Chunk - fill_);
    const uint32_t blocks = fill_ ? (fill_ + 63) / 64 : 1;
    uint32_t cv[8];
    std::memcpy(cv, kIv, sizeof cv);
    for (uint32_t b = 0; b < blocks; ++b) {
        const bool last = b + 1 == blocks;
        const uint32_t flags = (b == 0 ? kChunkStart : 0) | (last ? kChunkEnd : 0) | (last && !depth_ ? kRoot : 0);
        Compress(cv, chunk_ + 64 * b, last ? fill_ - 64 * b : 64, firstChunk_ + chunks_, flags);
    }
    while (depth_) {
        uint8_t block[64];
        std::memcpy(block, stack_[--depth_], 32);
        StoreValue(block + 32, cv);
        std::memcpy(cv, kIv, sizeof cv);
        Compress(cv, block, 64, 0, kParent | (depth_ ? 0 : kRoot));
    }
    StoreValue(digest, cv);
}
