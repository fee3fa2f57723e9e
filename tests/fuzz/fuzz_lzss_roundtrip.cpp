// EncodeBlock then DecodeBlock must give the input back, for every variant,
// without and with a reference (the input with every 64th byte changed).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "payload/LzssFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 70000) return 0;
    static const uint8_t kVariants[] = {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xB1, 0xB2, 0xB3,
                                        0xB4, 0xB5, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5};
    const uint8_t bits = kVariants[data[0] % 15];
    const bool withReference = data[0] & 0x80;
    const uint8_t* source = data + 1;
    const uint32_t length = uint32_t(size - 1);

    std::vector<uint8_t> reference(source, source + length);
    for (size_t i = 0; i < reference.size(); i += 64) reference[i] ^= 0xA5;

    std::vector<uint8_t> stream(LzssWorkBufferSize(length) + 8);
    uint32_t streamLength = uint32_t(stream.size());
    if (EncodeBlock(source, length, stream.data(), &streamLength, bits, withReference ? reference.data() : nullptr))
        __builtin_trap();  // 9 bits per byte always fits the work-buffer size
    std::vector<uint8_t> out = withReference ? reference : std::vector<uint8_t>(length);
    uint32_t produced = length;
    if (DecodeBlock(stream.data(), streamLength, out.data(), &produced, bits)) __builtin_trap();
    if (produced != length || (length && std::memcmp(out.data(), source, length) != 0)) __builtin_trap();
    return 0;
}
