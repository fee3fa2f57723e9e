#include "CrcLocate.h"

namespace {

// The reflected CRC-32 table (polynomial 0xEDB88320), and which entry has
// each top byte: they are all different, which makes a zero byte's step
// reversible.
struct Tables {
    uint32_t entry[256];
    uint8_t byTop[256];
    Tables() {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int bit = 0; bit < 8; ++bit) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            entry[i] = c;
            byTop[c >> 24] = uint8_t(i);
        }
    }
};

}  // namespace

bool LocateOneChangedByte(uint32_t syndrome, uint64_t length, uint64_t* position) {
    static const Tables tables;
    if (syndrome == 0 || length > kLocatableLength) return false;
    // The syndrome of a change v at distance d from the end is entry[v]
    // carried through d zero bytes; step back one zero byte at a time.
    unsigned found = 0;
    uint32_t state = syndrome;
    for (uint64_t distance = 0; distance < length; ++distance) {
        const uint8_t index = tables.byTop[state >> 24];
        if (tables.entry[index] == state) {  // a change of one byte, index, here
            *position = length - 1 - distance;
            ++found;
        }
        // Undo state' = entry[state & 0xFF] ^ (state >> 8) for a zero byte.
        state = ((state ^ tables.entry[index]) << 8) | index;
    }
    return found == 1;
}
