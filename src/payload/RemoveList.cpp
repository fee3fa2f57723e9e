// The lines of the removal list.
#include "payload/RemoveList.h"

#include "payload/DeltaKey.h"

bool NextRemoveLine(const char** cursor, const char* end, RemoveLine* line) {
    const char* at = *cursor;
    if (end - at < long(kDeltaKeyLength) + 4) return false;
    char key[kDeltaKeyLength + 1];
    for (unsigned i = 0; i < kDeltaKeyLength; ++i) key[i] = at[i];
    key[kDeltaKeyLength] = '\0';
    if (!ParseDeltaKey(key, &line->oldSize, &line->oldCrc) || at[kDeltaKeyLength] != ' ') return false;
    const char* path = at + kDeltaKeyLength + 1;
    const char* stop = path;
    while (stop < end && *stop != '\r' && *stop != '\n' && *stop != '\0') ++stop;
    if (stop == path || stop + 1 >= end || stop[0] != '\r' || stop[1] != '\n') return false;
    line->path = path;
    line->pathLength = uint32_t(stop - path);
    *cursor = stop + 2;
    return true;
}
