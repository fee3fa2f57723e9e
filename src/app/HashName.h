// The name hash of the strings table: case-blind over ASCII letters, so a
// section or key hashes the same in any letter case.
#pragma once

#include <cstdint>

// Sum of the running base-256 accumulator over the upper-cased bytes (taken
// as signed), finished by folding the accumulator's three higher shifts in.
uint32_t HashName(const char* text);
