// Text helpers that fold only the ASCII letters, whatever the locale: mount
// prefixes, pack names, directory entries, sections and keys compare so.
#pragma once

#include <cstdint>

inline unsigned char AsciiLower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }
inline unsigned char AsciiUpper(unsigned char c) { return (c >= 'a' && c <= 'z') ? c - ('a' - 'A') : c; }

// <0, 0, >0 like strcmp, comparing folded bytes as unsigned.
int CompareNoCase(const char* a, const char* b);
// The same over at most n bytes.
int CompareNoCaseN(const char* a, const char* b, uint32_t n);
// Upper-cases a to z in place.
void UpperCaseInPlace(char* text);
