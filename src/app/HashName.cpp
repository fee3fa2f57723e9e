#include "app/HashName.h"

#include "framework/AsciiText.h"

uint32_t HashName(const char* text) {
    // All arithmetic wraps modulo 2^32.
    uint32_t sum = 0;
    uint32_t accumulator = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        int32_t value = static_cast<int8_t>(AsciiUpper(*p));
        accumulator = accumulator * 256u + static_cast<uint32_t>(value);
        sum += accumulator;
    }
    sum += accumulator * 256u + accumulator * 65536u + accumulator * 16777216u;
    return sum;
}
