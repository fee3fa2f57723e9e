// Decoder of one LZSS block stream (format in LzssFormat.h), specialised per
// bit-lengths byte so that every shift and mask is a constant.
#include <cstring>

#include "payload/LzssFormat.h"

namespace {

inline uint32_t LoadBigEndian32(const uint8_t* at) {
    uint32_t word;
    std::memcpy(&word, at, 4);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    word = __builtin_bswap32(word);
#endif
    return word;
}

// The last bytes of a stream: what lies past its end reads as zero.
inline uint32_t LoadTailBigEndian32(const uint8_t* at, uint32_t available) {
    uint8_t bytes[4] = {0, 0, 0, 0};
    std::memcpy(bytes, at, available < 4 ? available : 4);
    return LoadBigEndian32(bytes);
}

// Copies a match front to back, so a distance below the length repeats the
// bytes just written. With room for it, whole chunks no longer than the
// distance are copied, writing up to 15 bytes past the match end.
inline void CopyMatch(uint8_t* to, uint32_t distance, uint32_t length, bool roomToOvercopy) {
    const uint8_t* from = to - distance;
    if (roomToOvercopy && distance >= 16) {
        for (uint32_t i = 0; i < length; i += 16) std::memcpy(to + i, from + i, 16);
    } else if (roomToOvercopy && distance >= 8) {
        for (uint32_t i = 0; i < length; i += 8) std::memcpy(to + i, from + i, 8);
    } else {
        if (length & 1) *to++ = *from++;
        for (uint32_t pairs = length >> 1; pairs; --pairs, to += 2, from += 2) {
            to[0] = from[0];
            to[1] = from[1];
        }
    }
}

template <unsigned O, unsigned N, bool InPlace>
ErrorCode DecodeVariant(const uint8_t* source, uint32_t sourceLength, uint8_t* destination,
                        uint32_t* destinationLength) {
    constexpr uint32_t kWindow = 1u << O;
    constexpr unsigned kMatchBits = 1 + O + N;
    constexpr uint32_t kOvercopyRoom = (1u << N) + 1 + 15;
    const uint32_t capacity = *destinationLength;
    const uint32_t lastByte = sourceLength - 1;
    const uint32_t wholeLoads = sourceLength >= 4 ? sourceLength - 3 : 0;
    // In place the unread input begins sourceOffset + bit / 8 bytes into the
    // destination; output must not be over-copied into it.
    const uint32_t sourceOffset = InPlace ? uint32_t(uintptr_t(source) - uintptr_t(destination)) : 0;

    // Invariants: bit is the stream position of the next token (a token
    // starts in a byte below lastByte, so padding in the last byte is never
    // a token); out <= capacity; every byte below out has been produced.
    uint32_t bit = 0;
    uint32_t out = 0;
    do {
        const uint32_t byte = bit >> 3;
        uint32_t word = byte < wholeLoads ? LoadBigEndian32(source + byte)
                                          : LoadTailBigEndian32(source + byte, sourceLength - byte);
        word <<= bit & 7;
        if (word & 0x80000000u) {
            if (out == capacity) return ERR_INVALIDFORMAT;
            destination[out++] = uint8_t(word >> 23);
            bit += 9;
            continue;
        }
        const uint32_t field = (word >> (31 - O)) & (kWindow - 1);
        const uint32_t length = ((word >> (31 - O - N)) & ((1u << N) - 1)) + 2;
        bit += kMatchBits;
        if (length > capacity - out) return ERR_INVALIDFORMAT;
        if (field != 0) {
            const uint32_t distance = kWindow - field;
            if (distance > out) return ERR_INVALIDFORMAT;
            uint32_t limit = capacity;
            if (InPlace && sourceOffset + (bit >> 3) < limit) limit = sourceOffset + (bit >> 3);
            CopyMatch(destination + out, distance, length, out + kOvercopyRoom <= limit);
        }
        out += length;
    } while ((bit >> 3) < lastByte);

    if (bit > 8 * sourceLength) return ERR_INVALIDFORMAT;  // the last token ran past the stored bytes
    *destinationLength = out;
    return nullptr;
}

typedef ErrorCode (*DecodeFunction)(const uint8_t*, uint32_t, uint8_t*, uint32_t*);

template <unsigned O, bool InPlace>
constexpr DecodeFunction kRow[5] = {DecodeVariant<O, 1, InPlace>, DecodeVariant<O, 2, InPlace>,
                                    DecodeVariant<O, 3, InPlace>, DecodeVariant<O, 4, InPlace>,
                                    DecodeVariant<O, 5, InPlace>};

template <bool InPlace>
DecodeFunction Variant(uint8_t bitLengths) {
    unsigned n = LzssLengthBits(bitLengths) - 1;
    switch (LzssOffsetBits(bitLengths)) {
    case 10: return kRow<10, InPlace>[n];
    case 11: return kRow<11, InPlace>[n];
    default: return kRow<12, InPlace>[n];
    }
}

}  // namespace

ErrorCode DecodeBlock(const uint8_t* source, uint32_t sourceLength, uint8_t* destination,
                      uint32_t* destinationLength, uint8_t bitLengths) {
    if (sourceLength == 0) {
        *destinationLength = 0;
        return nullptr;
    }
    if (!LzssBitLengthsSupported(bitLengths)) return ERR_NOSUCHBITLENGTHS;
    // Bit positions are 32-bit: no block stream comes near this length.
    if (sourceLength > 0x1FFFFFFFu) return ERR_BADPARAMS;

    const uintptr_t from = uintptr_t(source), to = uintptr_t(destination);
    const bool overlaps = from < to + *destinationLength && to < from + sourceLength;
    if (!overlaps) return Variant<false>(bitLengths)(source, sourceLength, destination, destinationLength);
    if (from < to) return ERR_BADPARAMS;
    return Variant<true>(bitLengths)(source, sourceLength, destination, destinationLength);
}
