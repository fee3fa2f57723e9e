#include "PackRemovals.h"

#include "payload/RemoveList.h"

std::vector<PackRemoval> ReadPackRemovals(const std::vector<uint8_t>& pack, const std::vector<PackListEntry>& entries,
                                          std::string* fault)
{
    fault->clear();
    std::vector<PackRemoval> removals;
    for (const PackListEntry& entry : entries) {
        if (entry.name != kRemoveListName)
            continue;
        const char* text = reinterpret_cast<const char*>(pack.data()) + entry.offset;
        const char* cursor = text;
        const char* end = text + entry.size;
        RemoveLine line;
        while (NextRemoveLine(&cursor, end, &line))
            removals.push_back({std::string(line.path, line.pathLength), line.oldSize, line.oldCrc});
        if (cursor != end)
            *fault = "REMOVE: the line at byte " + std::to_string(cursor - text) +
                     " does not read; the patcher removes nothing from there on";
    }
    return removals;
}
