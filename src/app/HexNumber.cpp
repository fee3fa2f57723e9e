#include "app/HexNumber.h"

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

int32_t ParseHexNumber(const char* text) {
    if (!text) return 0;
    const char* p = text;
    while (IsSpace(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    // "0x" counts as a prefix only when a digit follows; "0xg" reads as 0.
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && HexDigit(p[2]) >= 0) p += 2;

    // The magnitude saturates just above the largest one that can be stored.
    const uint64_t limit = negative ? 0x80000000ull : 0x7FFFFFFFull;
    uint64_t magnitude = 0;
    for (int digit; (digit = HexDigit(*p)) >= 0; ++p) {
        magnitude = magnitude * 16 + uint64_t(digit);
        if (magnitude > limit) magnitude = limit;
    }
    if (negative) return magnitude == 0x80000000ull ? INT32_MIN : -int32_t(magnitude);
    return int32_t(magnitude);
}
