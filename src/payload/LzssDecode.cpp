// Decoder of one LZSS block stream (format in LzssFormat.h). The patch
// containers' bit lengths get a decoder of their own, every shift and mask a
// constant; the other fourteen share one that reads them at run time, which
// keeps the patcher, which carries every decoder, small.
#include <cstring>

#include "payload/LzssFormat.h"

namespace {

// The stream's field widths: O offset bits and N length bits.
struct PatchShape {
    static constexpr unsigned o = 12;
    static constexpr unsigned n = 4;
};
static_assert(kLzssPatchBitLengths == (PatchShape::o << 4 | PatchShape::n), "the patch shape is the patch bit lengths");
struct AnyShape {
    unsigned o;
    unsigned n;
};

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
template <bool Careful, bool ZeroSkips = false, class Shape>
inline ErrorCode DecodeToken(Shape shape, const uint8_t* source, uint32_t sourceLength, uint8_t* destination,
                             uint32_t capacity, uint32_t& bit, uint32_t& out) {
    const unsigned O = shape.o, N = shape.n;
    const uint32_t window = 1u << O;
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
    const uint32_t field = (word >> (31 - O)) & (window - 1);
    const uint32_t length = ((word >> (31 - O - N)) & ((1u << N) - 1)) + 2;
    bit += 1 + O + N;
    if (Careful && length > capacity - out) return ERR_INVALIDFORMAT;
    if (field != 0) {
        const uint32_t distance = window - field;
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
inline ErrorCode DecodeScribblingToken(const uint8_t* source, uint8_t* destination, uint32_t& bit, uint32_t& out) {
    constexpr unsigned O = PatchShape::o, N = PatchShape::n;
    constexpr uint32_t kWindow = 1u << O;
    const uint32_t word = LoadBigEndian32(source + (bit >> 3)) << (bit & 7);
    const bool match = !(word >> 31);
    const uint32_t field = (word >> (31 - O)) & (kWindow - 1);
    const uint32_t length = ((word >> (31 - O - N)) & ((1u << N) - 1)) + 2;
    const uint32_t distance = kWindow - field;
    if (match && (field == 0 || distance < 16 || distance > out || length > 16))
        return DecodeToken<false, true>(PatchShape(), source, 0, destination, 0, bit, out);
    uint8_t* to = destination + out;
    uint8_t chunk[16];
    std::memcpy(chunk, to - (match ? distance : 0), 16);
    if (!match) chunk[0] = uint8_t(word >> 23);
    std::memcpy(to, chunk, 16);
    bit += match ? 1 + O + N : 9;
    out += match ? length : 1;
    return nullptr;
}

template <bool Scribble = false, class Shape>
ErrorCode DecodeStream(Shape shape, const uint8_t* source, uint32_t sourceLength, uint8_t* destination,
                       uint32_t* destinationLength) {
    const uint32_t maxMatch = Scribble ? 17 : (1u << shape.n) + 1;
    const uint32_t capacity = *destinationLength;
    const uint32_t lastByte = sourceLength - 1;
    // The unchecked loop runs while a whole word can be loaded and a whole match fits.
    const uint32_t fastBytes = sourceLength >= 4 ? sourceLength - 3 : 0;
    const uint32_t fastEnd = fastBytes < lastByte ? fastBytes : lastByte;
    const uint32_t fastOut = capacity >= maxMatch ? capacity - maxMatch : 0;

    // Invariants: bit is the stream position of the next token (a token
    // starts in a byte below lastByte, so padding in the last byte is never
    // a token); out <= capacity; every byte below out has been produced.
    uint32_t bit = 0;
    uint32_t out = 0;
    ErrorCode error = DecodeToken<true, Scribble>(shape, source, sourceLength, destination, capacity, bit, out);
    if constexpr (Scribble) {
        while (!error && (bit >> 3) < fastEnd && out <= fastOut)
            error = DecodeScribblingToken(source, destination, bit, out);
    } else {
        while (!error && (bit >> 3) < fastEnd && out <= fastOut)
            error = DecodeToken<false>(shape, source, sourceLength, destination, capacity, bit, out);
    }
    while (!error && (bit >> 3) < lastByte)
        error = DecodeToken<true, Scribble>(shape, source, sourceLength, destination, capacity, bit, out);
    if (error) return error;

    if (bit > 8 * sourceLength) return ERR_INVALIDFORMAT;  // the last token ran past the stored bytes
    *destinationLength = out;
    return nullptr;
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
    if (bitLengths == kLzssPatchBitLengths)
        return DecodeStream(PatchShape(), source, sourceLength, destination, destinationLength);
    const AnyShape shape = {LzssOffsetBits(bitLengths), LzssLengthBits(bitLengths)};
    return DecodeStream(shape, source, sourceLength, destination, destinationLength);
}

ErrorCode DecodeBlockScribbling(const uint8_t* source, uint32_t sourceLength, uint8_t* destination,
                                uint32_t* destinationLength, uint8_t bitLengths) {
    // The patch containers' bit lengths have the scribbling decoder; others
    // get the same result from the plain one over zeros.
    if (sourceLength == 0 || sourceLength > 0x1FFFFFFFu || bitLengths != kLzssPatchBitLengths) {
        std::memset(destination, 0, *destinationLength);
        return DecodeBlock(source, sourceLength, destination, destinationLength, bitLengths);
    }
    return DecodeStream<true>(PatchShape(), source, sourceLength, destination, destinationLength);
}
