#include "payload/PatchCrc.h"

#include "framework/LittleEndian.h"

#include <cstring>

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#define QP_CRC_CARRYLESS 1
#include <cpuid.h>
#include <immintrin.h>
#else
#define QP_CRC_CARRYLESS 0
#endif

namespace {

constexpr uint32_t kPolynomial = 0xEDB88320u;

// Slicing by 16: table[k][b] is the CRC of byte b followed by k zero bytes,
// so sixteen input bytes fold into the state with sixteen independent
// lookups, and the state's dependency chain is one step per 16 bytes.
struct Crc32Tables {
    uint32_t table[16][256];
    Crc32Tables() {
        for (uint32_t b = 0; b < 256; ++b) {
            uint32_t c = b;
            for (int bit = 0; bit < 8; ++bit) c = (c >> 1) ^ (kPolynomial & (0u - (c & 1)));
            table[0][b] = c;
        }
        for (uint32_t b = 0; b < 256; ++b)
            for (int k = 1; k < 16; ++k) table[k][b] = (table[k - 1][b] >> 8) ^ table[0][table[k - 1][b] & 0xFF];
    }
};

const Crc32Tables& Tables() {
    static const Crc32Tables tables;
    return tables;
}

// The four bytes of word (little-endian) seen by the tables at+3 .. at.
inline uint32_t Fold4(const uint32_t (*t)[256], unsigned at, uint32_t word) {
    return t[at + 3][word & 0xFF] ^ t[at + 2][(word >> 8) & 0xFF] ^ t[at + 1][(word >> 16) & 0xFF] ^ t[at][word >> 24];
}

}  // namespace

uint32_t Crc32UpdateByTables(uint32_t crc, const void* data, size_t size) {
    const auto& t = Tables().table;
    const auto* p = static_cast<const uint8_t*>(data);
    uint32_t c = ~crc;
    for (; size >= 16; size -= 16, p += 16)
        c = Fold4(t, 12, c ^ LoadU32(p)) ^ Fold4(t, 8, LoadU32(p + 4)) ^ Fold4(t, 4, LoadU32(p + 8)) ^
            Fold4(t, 0, LoadU32(p + 12));
    for (; size > 0; --size, ++p) c = (c >> 8) ^ t[0][(c ^ *p) & 0xFF];
    return ~c;
}

#if QP_CRC_CARRYLESS

namespace {

// Folding with carry-less multiplication: four 128-bit lanes each take the
// next 64 bytes as lane * x^(512) + data (mod P), so no lane waits on
// another; the lanes then fold into one, the last 128 bits reduce to 64,
// and a Barrett reduction gives the 32-bit register. Constants (bit-reflected,
// 33 bits): x^(4*128+32) and x^(4*128-32) mod P for the four-lane fold,
// x^(128+32) and x^(128-32) for the one-lane fold, x^64 for 64 -> 32 bits,
// then P itself and floor(x^64 / P) for Barrett.
#define QP_CARRYLESS __attribute__((target("pclmul,sse4.1")))

QP_CARRYLESS inline __m128i Load(const uint8_t* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); }

// lane * k (its low half by k's low, its high half by k's high) + next.
QP_CARRYLESS inline __m128i Fold(__m128i lane, __m128i k, __m128i next) {
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(lane, k, 0x00), _mm_clmulepi64_si128(lane, k, 0x11)), next);
}

// Takes and returns the register (the CRC before its final inversion); size
// is a multiple of 16, at least 64.
QP_CARRYLESS uint32_t FoldCarryless(uint32_t reg, const uint8_t* p, size_t size) {
    const __m128i fold4 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);
    const __m128i fold1 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
    const __m128i fold64 = _mm_set_epi64x(0, 0x0163cd6124);
    const __m128i barrett = _mm_set_epi64x(0x01f7011641, 0x01db710641);
    const __m128i low32 = _mm_setr_epi32(-1, 0, -1, 0);
    __m128i x1 = _mm_xor_si128(Load(p), _mm_cvtsi32_si128(int(reg)));
    __m128i x2 = Load(p + 16), x3 = Load(p + 32), x4 = Load(p + 48);
    for (p += 64, size -= 64; size >= 64; p += 64, size -= 64) {
        x1 = Fold(x1, fold4, Load(p));
        x2 = Fold(x2, fold4, Load(p + 16));
        x3 = Fold(x3, fold4, Load(p + 32));
        x4 = Fold(x4, fold4, Load(p + 48));
    }
    x1 = Fold(Fold(Fold(x1, fold1, x2), fold1, x3), fold1, x4);
    for (; size >= 16; p += 16, size -= 16) x1 = Fold(x1, fold1, Load(p));

    // 128 -> 64 bits.
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, fold1, 0x10));
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 4), _mm_clmulepi64_si128(_mm_and_si128(x1, low32), fold64, 0x00));
    // Barrett: 64 -> 32 bits.
    __m128i q = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), barrett, 0x10);
    q = _mm_clmulepi64_si128(_mm_and_si128(q, low32), barrett, 0x00);
    return uint32_t(_mm_extract_epi32(_mm_xor_si128(x1, q), 1));
}

bool HasCarryless() {
    // Leaf 1, ECX: bit 1 carry-less multiplication, bit 19 SSE4.1.
    static const bool has = [] {
        unsigned a = 0, b = 0, c = 0, d = 0;
        return __get_cpuid(1, &a, &b, &c, &d) && (c & (1u << 1)) && (c & (1u << 19));
    }();
    return has;
}

}  // namespace

uint32_t Crc32Update(uint32_t crc, const void* data, size_t size) {
    if (size < 64 || !HasCarryless()) return Crc32UpdateByTables(crc, data, size);
    const auto* p = static_cast<const uint8_t*>(data);
    const size_t folded = size & ~size_t(15);
    const uint32_t reg = FoldCarryless(~crc, p, folded);
    return Crc32UpdateByTables(~reg, p + folded, size - folded);
}

#else

uint32_t Crc32Update(uint32_t crc, const void* data, size_t size) { return Crc32UpdateByTables(crc, data, size); }

#endif

namespace {

// a times b modulo the polynomial, both in the reflected bit order (the
// top bit is x^0).
uint32_t MultiplyModP(uint32_t a, uint32_t b) {
    uint32_t product = 0;
    for (uint32_t bit = 0x80000000u; bit && a; bit >>= 1) {
        if (a & bit) {
            product ^= b;
            a ^= bit;
        }
        b = (b >> 1) ^ (kPolynomial & (0u - (b & 1)));
    }
    return product;
}

// x^(8 n) modulo the polynomial: the shift of n zero bytes, by squaring.
uint32_t ByteShift(uint64_t n) {
    uint32_t power = 0x80000000u;      // x^0
    uint32_t square = 0x00800000u;     // x^8
    for (; n; n >>= 1) {
        if (n & 1) power = MultiplyModP(power, square);
        square = MultiplyModP(square, square);
    }
    return power;
}

}  // namespace

// The register after a and b is a's register shifted over b's bytes plus
// b's own; the starting and final inversions cancel in that sum.
uint32_t Crc32Combine(uint32_t crcA, uint32_t crcB, uint64_t lengthB) {
    return MultiplyModP(ByteShift(lengthB), crcA) ^ crcB;
}

void MakePatchCrcEntry(uint32_t coveredSize, uint32_t crc, uint8_t out[kPatchCrcEntrySize]) {
    std::memcpy(out, kPatchCrcMagic, 4);
    StoreU32(out + 4, kPatchCrcVersion);
    StoreU32(out + 8, coveredSize);
    StoreU32(out + 12, crc);
}

uint32_t PatchCrcEntrySize(uint32_t version) {
    return version == kPatchCrcVersion ? kPatchCrcEntrySize : version == kPatchCrcStoredVersion ? kPatchCrcStoredEntrySize : 0;
}

void MakeStoredPatchCrcFields(uint32_t coveredSize, uint32_t crc, uint32_t storedCrc,
                              uint8_t out[kPatchCrcTailCrcOffset]) {
    std::memcpy(out, kPatchCrcMagic, 4);
    StoreU32(out + 4, kPatchCrcStoredVersion);
    StoreU32(out + 8, coveredSize);
    StoreU32(out + 12, crc);
    StoreU32(out + 16, storedCrc);
}

bool ParsePatchCrcEntry(const uint8_t* bytes, uint32_t size, PatchCrcEntry* entry) {
    if ((size != kPatchCrcEntrySize && size != kPatchCrcStoredEntrySize) || std::memcmp(bytes, kPatchCrcMagic, 4) != 0)
        return false;
    *entry = PatchCrcEntry{};
    entry->version = LoadU32(bytes + 4);
    entry->coveredSize = LoadU32(bytes + 8);
    entry->crc = LoadU32(bytes + 12);
    if (size == kPatchCrcStoredEntrySize) {
        entry->storedCrc = LoadU32(bytes + 16);
        entry->tailCrc = LoadU32(bytes + 20);
    }
    return true;
}
