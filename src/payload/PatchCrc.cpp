#include "payload/PatchCrc.h"

#include "framework/LittleEndian.h"

#include <cstring>

namespace {

constexpr uint32_t kPolynomial = 0xEDB88320u;

// Slicing by 8: table[k][b] is the CRC of byte b followed by k zero bytes,
// so eight input bytes fold into the state with eight lookups.
struct Crc32Tables {
    uint32_t table[8][256];
    Crc32Tables() {
        for (uint32_t b = 0; b < 256; ++b) {
            uint32_t c = b;
            for (int bit = 0; bit < 8; ++bit) c = (c >> 1) ^ (kPolynomial & (0u - (c & 1)));
            table[0][b] = c;
        }
        for (uint32_t b = 0; b < 256; ++b)
            for (int k = 1; k < 8; ++k) table[k][b] = (table[k - 1][b] >> 8) ^ table[0][table[k - 1][b] & 0xFF];
    }
};

const Crc32Tables& Tables() {
    static const Crc32Tables tables;
    return tables;
}

}  // namespace

uint32_t Crc32Update(uint32_t crc, const void* data, size_t size) {
    const auto& t = Tables().table;
    const auto* p = static_cast<const uint8_t*>(data);
    uint32_t c = ~crc;
    for (; size >= 8; size -= 8, p += 8) {
        const uint32_t low = c ^ LoadU32(p), high = LoadU32(p + 4);
        c = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^ t[4][low >> 24] ^
            t[3][high & 0xFF] ^ t[2][(high >> 8) & 0xFF] ^ t[1][(high >> 16) & 0xFF] ^ t[0][high >> 24];
    }
    for (; size > 0; --size, ++p) c = (c >> 8) ^ t[0][(c ^ *p) & 0xFF];
    return ~c;
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
