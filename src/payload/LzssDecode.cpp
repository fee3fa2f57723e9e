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

// Copies c bytes; with the regions at least c apart it is one plain copy.
template <unsigned C>
inline void CopyChunk(uint8_t* to, const uint8_t* from) {
    std::memcpy(to, from, C);
}

// Copies length bytes from distance back, front to back, so a distance below
// the length repeats the bytes just written. Writes stay exactly within the
// match: bytes after it may be ones a skip token keeps. Chunks no longer than
// the distance read only finished bytes; the last chunk is placed flush with
// the match's end and rewrites some bytes with their own values.
template <unsigned C>
inline void CopyInChunks(uint8_t* to, const uint8_t* from, uint32_t length) {
    for (uint32_t i = 0; i + C < length; i += C) CopyChunk<C>(to + i, from + i);
    CopyChunk<C>(to + length - C, from + length - C);
}

inline void CopyMatch(uint8_t* to, uint32_t distance, uint32_t length) {
    const uint8_t* from = to - distance;
    if (distance >= 16 && length >= 16) return CopyInChunks<16>(to, from, length);
    if (distance >= 8 && length >= 8) return CopyInChunks<8>(to, from, length);
    if (distance >= 4 && length >= 4) return CopyInChunks<4>(to, from, length);
    if (length & 1) *to++ = *from++;
    for (uint32_t pairs = length >> 1; pairs; --pairs, to += 2, from += 2) {
        to[0] = from[0];
        to[1] = from[1];
    }
}

// Decodes the token at bit. Careful checks every bound; without Careful the
// caller guarantees four readable stream bytes and room for a whole match.
// ZeroSkips writes zeros where a skip token passes.
template <unsigned O, unsigned N, bool Careful, bool ZeroSkips = false>
inline ErrorCode DecodeToken(const uint8_t* source, uint32_t sourceLength, uint8_t* destination, uint32_t capacity,
                             uint32_t& bit, uint32_t& out) {
    constexpr uint32_t kWindow = 1u << O;
    const uint32_t byte = bit >> 3;
    uint32_t word = !Careful || byte + 4 <= sourceLength ? LoadBigEndian32(source + byte)
                                                         : LoadTailBigEndian32(source + byte, sourceLength - byte);
    word <<= bit & 7;
    if (word & 0x80000000u) {
        if (Careful && out == capacity) return ERR_INVALIDFORMAT;
        destination[out++] = uint8_t(word >> 23);
        bit += 9;
        return nullptr;
    }
    const uint32_t field = (word >> (31 - O)) & (kWindow - 1);
    const uint32_t length = ((word >> (31 - O - N)) & ((1u << N) - 1)) + 2;
    bit += 1 + O + N;
    if (Careful && length > capacity - out) return ERR_INVALIDFORMAT;
    if (field != 0) {
        const uint32_t distance = kWindow - field;
        if (distance > out) return ERR_INVALIDFORMAT;
        CopyMatch(destination + out, distance, length);
    } else if (ZeroSkips) {
        std::memset(destination + out, 0, length);
    }
    out += length;
    return nullptr;
}

// The unchecked step of the scribbling decoder: every token is one 16-byte
// copy at out, of the bytes from distance back or of the literal (its
// other 15 bytes whatever), so that a literal and a match take the same
// path: the branch between them, which a processor mispredicts on most
// tokens of mixed data, goes. Bytes past the token are scribbled over; the
// tokens after it write them again. Matches that overlap their source
// (distance below 16), longer than 16 bytes, reaching before the output or
// skipping take DecodeToken. The caller guarantees four readable stream
// bytes and 17 writable output bytes at out, in a buffer apart from the
// stream.
template <unsigned O, unsigned N>
inline ErrorCode DecodeScribblingToken(const uint8_t* source, uint8_t* destination, uint32_t& bit, uint32_t& out) {
    constexpr uint32_t kWindow = 1u << O;
    const uint32_t word = LoadBigEndian32(source + (bit >> 3)) << (bit & 7);
    const bool match = !(word >> 31);
    const uint32_t field = (word >> (31 - O)) & (kWindow - 1);
    const uint32_t length = ((word >> (31 - O - N)) & ((1u << N) - 1)) + 2;
    const uint32_t distance = kWindow - field;
    if (match && (field == 0 || distance < 16 || distance > out || length > 16))
        return DecodeToken<O, N, false, true>(source, 0, destination, 0, bit, out);
    uint8_t* to = destination + out;
    uint8_t chunk[16];
    std::memcpy(chunk, to - (match ? distance : 0), 16);
    if (!match) chunk[0] = uint8_t(word >> 23);
    std::memcpy(to, chunk, 16);
    bit += match ? 1 + O + N : 9;
    out += match ? length : 1;
    return nullptr;
}

template <unsigned O, unsigned N, bool Scribble = false>
ErrorCode DecodeVariant(const uint8_t* source, uint32_t sourceLength, uint8_t* destination,
                        uint32_t* destinationLength) {
    constexpr uint32_t kMaxMatch = Scribble ? 17 : (1u << N) + 1;
    const uint32_t capacity = *destinationLength;
    const uint32_t lastByte = sourceLength - 1;
    // The unchecked loop runs while a whole word can be loaded and a whole match fits.
    const uint32_t fastBytes = sourceLength >= 4 ? sourceLength - 3 : 0;
    const uint32_t fastEnd = fastBytes < lastByte ? fastBytes : lastByte;
    const uint32_t fastOut = capacity >= kMaxMatch ? capacity - kMaxMatch : 0;

    // Invariants: bit is the stream position of the next token (a token
    // starts in a byte below lastByte, so padding in the last byte is never
    // a token); out <= capacity; every byte below out has been produced.
    uint32_t bit = 0;
    uint32_t out = 0;
    ErrorCode error = DecodeToken<O, N, true, Scribble>(source, sourceLength, destination, capacity, bit, out);
    if constexpr (Scribble) {
        while (!error && (bit >> 3) < fastEnd && out <= fastOut)
            error = DecodeScribblingToken<O, N>(source, destination, bit, out);
    } else {
        while (!error && (bit >> 3) < fastEnd && out <= fastOut)
            error = DecodeToken<O, N, false>(source, sourceLength, destination, capacity, bit, out);
    }
    while (!error && (bit >> 3) < lastByte)
        error = DecodeToken<O, N, true, Scribble>(source, sourceLength, destination, capacity, bit, out);
    if (error) return error;

    if (bit > 8 * sourceLength) return ERR_INVALIDFORMAT;  // the last token ran past the stored bytes
    *destinationLength = out;
    return nullptr;
}

typedef ErrorCode (*DecodeFunction)(const uint8_t*, uint32_t, uint8_t*, uint32_t*);

template <unsigned O>
constexpr DecodeFunction kRow[5] = {DecodeVariant<O, 1>, DecodeVariant<O, 2>, DecodeVariant<O, 3>,
                                    DecodeVariant<O, 4>, DecodeVariant<O, 5>};

DecodeFunction Variant(uint8_t bitLengths) {
    unsigned n = LzssLengthBits(bitLengths) - 1;
    switch (LzssOffsetBits(bitLengths)) {
    case 10: return kRow<10>[n];
    case 11: return kRow<11>[n];
    default: return kRow<12>[n];
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
    return Variant(bitLengths)(source, sourceLength, destination, destinationLength);
}

ErrorCode DecodeBlockScribbling(const uint8_t* source, uint32_t sourceLength, uint8_t* destination,
                                uint32_t* destinationLength, uint8_t bitLengths) {
    // The patch containers' bit lengths have the scribbling decoder; others
    // get the same result from the plain one over zeros.
    if (sourceLength == 0 || sourceLength > 0x1FFFFFFFu || bitLengths != kLzssPatchBitLengths) {
        std::memset(destination, 0, *destinationLength);
        return DecodeBlock(source, sourceLength, destination, destinationLength, bitLengths);
    }
    return DecodeVariant<12, 4, true>(source, sourceLength, destination, destinationLength);
}
