// Where a patch pack keeps its deltas. Beside the tree "FILES\" lies the tree
// "DELTAS\": a file carried as deltas, FILES\<path> had it been whole, has a
// folder DELTAS\<path>\ holding one entry per old content it can be rebuilt
// from, named by that content's size and CRC-32 as 16 hexadecimal digits
// (upper case, 8 each). A folder of that tree holds either such entries (it
// stands for one file) or further folders, never both: a pack path is never
// a file and a folder at once. Every delta of one file rebuilds the same new
// content.
#pragma once

#include <cstdint>

constexpr char kDeltasFolder[] = "DELTAS";
constexpr unsigned kDeltaKeyLength = 16;

// The entry name of an old content: 16 digits and a terminating zero.
void FormatDeltaKey(uint32_t oldSize, uint32_t oldCrc, char name[kDeltaKeyLength + 1]);

// Reads an entry name; false unless it is exactly 16 hexadecimal digits.
bool ParseDeltaKey(const char* name, uint32_t* oldSize, uint32_t* oldCrc);
