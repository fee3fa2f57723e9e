// Reads the delta tree of a pack.
#include "PackDeltas.h"

#include "PackNames.h"

#include "payload/DeltaKey.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>

std::map<std::string, PackDeltaFile> ReadPackDeltas(CPackFS* pack, const std::vector<PackListEntry>& entries)
{
    const std::string& prefix = kDeltasPackPrefix;
    std::map<std::string, PackDeltaFile> files;
    for (const PackListEntry& entry : entries) {
        const size_t slash = entry.name.rfind('\\');
        if (entry.name.compare(0, prefix.size(), prefix) != 0 || slash < prefix.size())
            continue;
        const std::string relative = entry.name.substr(prefix.size(), slash - prefix.size());
        PackDelta delta;
        delta.name = entry.name;
        delta.offset = entry.offset;
        delta.size = entry.size;
        ErrorCode error = nullptr;
        std::unique_ptr<CFile> file(pack->Open(entry.name.c_str(), FM_READ, &error));
        if (!ParseDeltaKey(entry.name.c_str() + slash + 1, &delta.keySize, &delta.keyCrc))
            delta.fault = "its name is no old size and CRC-32 (16 hexadecimal digits)";
        else if (!file)
            delta.fault = std::string("it does not open: ") + ErrorText(error);
        else if ((error = ReadDeltaHeader(file.get(), &delta.header)))
            delta.fault = std::string("its header does not read: ") + ErrorText(error);
        else if (delta.header.oldSize != delta.keySize || delta.header.oldCrc != delta.keyCrc)
            delta.fault = "its header names another old file than its name";
        PackDeltaFile& deltaFile = files[relative];
        // Every delta of a file reads its old version at one path, as the
        // patcher takes it; deltas that disagree make the file's deltas damaged.
        for (const PackDelta& other : deltaFile.deltas)
            if (delta.fault.empty() && other.fault.empty() && delta.header.source[0] && other.header.source[0] &&
                std::strcmp(delta.header.source, other.header.source) != 0)
                delta.fault = std::string("it names another old path (") + delta.header.source + ") than " +
                              other.name + " (" + other.header.source + ")";
        deltaFile.relative = relative;
        deltaFile.deltas.push_back(delta);
    }
    for (const PackListEntry& entry : entries)
        if (entry.name.compare(0, 6, "FILES\\") == 0 && files.count(entry.name.substr(6)))
            files[entry.name.substr(6)].whole = true;
    return files;
}

std::string HexCrc(uint32_t crc)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08" PRIX32, crc);
    return text;
}
