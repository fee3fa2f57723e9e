// The ANSI code page of this host layer, Windows-1252: every byte maps to one
// code point of the Basic Multilingual Plane; the five bytes the code page
// leaves undefined map to the C1 controls of the same value, as Windows does.
#pragma once

#include <cstdint>

namespace w32host {

char32_t AnsiToUnicode(unsigned char byte);

// The byte for a code point, or false when the code page has none.
bool UnicodeToAnsi(char32_t codePoint, unsigned char* byte);

} // namespace w32host
