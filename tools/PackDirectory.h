// The directory of a pack file (layout in payload/PackFormat.h and
// payload/PackIndex.h) read with every bound checked, for the inspection
// commands: names, data ranges and MS-DOS times of all entries, or the first
// fault and the pack offset where it lies.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PackListEntry {
    std::string name;  // as stored: upper case, backslash-separated
    uint32_t offset = 0, size = 0;
    uint32_t dosDateTime = 0;
};

struct PackFault {
    std::string what;  // empty when the pack is sound
    uint64_t offset = 0;
};

// Reads the whole directory; stops at the first fault: a bad header, an
// entry that breaks the front coding or the order, a data range outside the
// file area of the pack. pack holds the whole pack, or at least its header,
// directory and date table when packSize gives the pack's size.
PackFault ReadPackDirectory(const std::vector<uint8_t>& pack, std::vector<PackListEntry>* entries,
                            uint64_t packSize = UINT64_MAX);

// "YYYY-MM-DD HH:MM:SS" of an MS-DOS date (high 16 bits) and time.
std::string FormatDosDateTime(uint32_t dosDateTime);
