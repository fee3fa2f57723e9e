#include "PackRemovals.h"

#include "payload/PackFS.h"
#include "payload/RemoveList.h"

#include <memory>

std::vector<PackRemoval> ReadPackRemovals(CPackFS* pack, const std::vector<PackListEntry>& entries, std::string* fault)
{
    fault->clear();
    std::vector<PackRemoval> removals;
    for (const PackListEntry& entry : entries) {
        if (entry.name != kRemoveListName)
            continue;
        // Read through the pack as the patcher reads it; the list is as large
        // as the patcher holds it in memory.
        ErrorCode error = nullptr;
        std::unique_ptr<CFile> file(pack->Open(entry.name.c_str(), FM_READ, &error));
        std::string text(entry.size, '\0');
        uint32_t got = 0;
        if (!file || (error = file->Read(text.data(), entry.size, &got)) || got != entry.size) {
            *fault = std::string("REMOVE: the entry does not read: ") + (error ? ErrorText(error) : "it is short");
            return removals;
        }
        const char* cursor = text.data();
        const char* end = cursor + text.size();
        RemoveLine line;
        while (NextRemoveLine(&cursor, end, &line))
            removals.push_back({std::string(line.path, line.pathLength), line.oldSize, line.oldCrc});
        if (cursor != end)
            *fault = "REMOVE: the line at byte " + std::to_string(cursor - text.data()) +
                     " does not read; the patcher removes nothing from there on";
    }
    return removals;
}
