// The deltas of a patch's pack (payload/DeltaKey.h) as the inspection
// commands see them: grouped by the game file they rebuild, each with its
// header read (through the pack service, as the patcher opens it) and its
// name checked against it.
#pragma once

#include "PackDirectory.h"

#include "payload/Delta.h"
#include "payload/PackFS.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct PackDelta {
    std::string name;       // the pack entry's name
    uint32_t keySize = 0, keyCrc = 0;
    DeltaHeader header;
    std::string fault;      // empty when the name and the header read and agree
    uint32_t offset = 0, size = 0; // the delta's bytes in the pack
};

struct PackDeltaFile {
    std::string relative;   // below the game folder, as the pack names it ("MAPS\KINGSFALL.MAP")
    bool whole = false;     // the pack carries FILES\<relative> too
    std::vector<PackDelta> deltas;
};

// Every file of the pack's delta tree, by relative path; pack is attached
// to the pack whose directory entries lists.
std::map<std::string, PackDeltaFile> ReadPackDeltas(CPackFS* pack, const std::vector<PackListEntry>& entries);

// "0x1234ABCD".
std::string HexCrc(uint32_t crc);
