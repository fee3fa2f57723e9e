// The removal list of a patch's pack (payload/RemoveList.h) as the
// inspection commands see it, read by the patcher's own line reader.
#pragma once

#include "PackDirectory.h"

class CPackFS;

#include <cstdint>
#include <string>
#include <vector>

struct PackRemoval {
    std::string relative;  // below the game folder, backslash-separated
    uint32_t oldSize = 0, oldCrc = 0;
};

// Every line of the pack's REMOVE entry (none without one); *fault names the
// first line the patcher would not take (the rest of the list is then not
// used), empty when the whole entry reads.
std::vector<PackRemoval> ReadPackRemovals(CPackFS* pack, const std::vector<PackListEntry>& entries, std::string* fault);
