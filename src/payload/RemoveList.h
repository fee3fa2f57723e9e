// Where a patch pack lists the files the update removes. Beside "FILES\" and
// "DELTAS\" lies the entry "REMOVE": text, one line per old content a file
// may have, "<size><CRC-32> <path>" and a CR LF, the key as a delta's
// (DeltaKey.h: 16 hexadecimal digits), the path below the game folder with
// backslashes. A file with several old contents has a line for each, and is
// removed only while it has one of them. A pack without the entry removes
// nothing.
#pragma once

#include <cstdint>

constexpr char kRemoveListName[] = "REMOVE";
constexpr char kRemoveListPath[] = "DATA\\Remove";

struct RemoveLine {
    uint32_t oldSize = 0, oldCrc = 0;
    const char* path = nullptr;  // inside the text, up to pathLength
    uint32_t pathLength = 0;
};

// Reads the line at *cursor (text up to end) and steps past it. False at the
// end of the text and for a line that does not read as one (the rest of the
// list is then not taken).
bool NextRemoveLine(const char** cursor, const char* end, RemoveLine* line);
