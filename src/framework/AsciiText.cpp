#include "framework/AsciiText.h"

int CompareNoCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        int ca = AsciiLower(static_cast<unsigned char>(*a));
        int cb = AsciiLower(static_cast<unsigned char>(*b));
        if (ca != cb || ca == 0) return ca - cb;
    }
}

int CompareNoCaseN(const char* a, const char* b, uint32_t n) {
    for (; n != 0; --n, ++a, ++b) {
        int ca = AsciiLower(static_cast<unsigned char>(*a));
        int cb = AsciiLower(static_cast<unsigned char>(*b));
        if (ca != cb || ca == 0) return ca - cb;
    }
    return 0;
}

void UpperCaseInPlace(char* text) {
    for (; *text; ++text) *text = static_cast<char>(AsciiUpper(static_cast<unsigned char>(*text)));
}
