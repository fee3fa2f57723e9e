// Version numbers are written in the strings file as hexadecimal digits of
// the 32-bit value (major in the high 16 bits, minor in the low 16 bits).
#pragma once

#include <cstdint>

// Converts text as a signed 32-bit number in base 16: leading white space
// skipped, an optional sign and "0x" prefix accepted, stopping at the first
// character that is no hexadecimal digit, clamped to the signed 32-bit range.
// An empty or non-numeric text gives 0.
int32_t ParseHexNumber(const char* text);
