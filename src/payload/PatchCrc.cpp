#include "payload/PatchCrc.h"

#include "framework/LittleEndian.h"

#include <cstring>

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

uint32_t Crc32Update(uint32_t crc, const void* data, size_t size) {
    const auto& t = Tables().table;
    const auto* p = static_cast<const uint8_t*>(data);
    uint32_t c = ~crc;
    for (; size >= 16; size -= 16, p += 16)
        c = Fold4(t, 12, c ^ LoadU32(p)) ^ Fold4(t, 8, LoadU32(p + 4)) ^ Fold4(t, 4, LoadU32(p + 8)) ^
            Fold4(t, 0, LoadU32(p + 12));
    for (; size > 0; --size, ++p) c = (c >> 8) ^ t[0][(c ^ *p) & 0xFF];
    return ~c;
}

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

bool ParsePatchCrcEntry(const uint8_t* bytes, uint32_t size, PatchCrcEntry* entry) {
    if (size != kPatchCrcEntrySize || std::memcmp(bytes, kPatchCrcMagic, 4) != 0) return false;
    entry->version = LoadU32(bytes + 4);
    entry->coveredSize = LoadU32(bytes + 8);
    entry->crc = LoadU32(bytes + 12);
    return true;
}
