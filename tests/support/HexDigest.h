// A digest's bytes as lower-case hexadecimal, as published test vectors give them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

inline std::string HexDigest(const uint8_t* p, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) s += {digits[p[i] >> 4], digits[p[i] & 15]};
    return s;
}
