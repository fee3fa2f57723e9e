// DecodeBlock over arbitrary streams: the first byte picks the bit lengths
// and the next two the capacity; decoded both into a separate buffer and in
// place, as CLzssFile does.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "payload/LzssFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    static const uint8_t kVariants[] = {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xB1, 0xB2, 0xB3,
                                        0xB4, 0xB5, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0x00};
    const uint8_t bits = kVariants[data[0] % 16];
    const uint32_t capacity = uint32_t(data[1]) << 8 | data[2];
    const uint8_t* stream = data + 3;
    const uint32_t length = uint32_t(size - 3);

    std::vector<uint8_t> out(capacity);
    uint32_t produced = capacity;
    ErrorCode separate = DecodeBlock(stream, length, out.data(), &produced, bits);
    if (!separate && produced > capacity) __builtin_trap();

    std::vector<uint8_t> work(LzssWorkBufferSize(capacity) + length);
    uint8_t* in = work.data() + work.size() - length;
    if (length) std::memcpy(in, stream, length);
    uint32_t inPlace = capacity;
    DecodeBlock(in, length, work.data(), &inPlace, bits);
    return 0;
}
