// An independent reader of block files ("HPFS") for tests and fuzz targets:
// handle data and directory entries read straight from the bytes, over the
// raw trees and the block accounting that qptool verify uses too. It shares
// nothing with the library but the byte helpers.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "BlockAccounting.h"
#include "hpfs/BlockFileFormat.h"

// A handle's data (bytes past the end of the file read as zero).
inline std::vector<uint8_t> ReadRawData(const std::vector<uint8_t>& bytes, uint32_t handle) {
    BlockFileHeader header;
    header.Load(bytes.data());
    RawTree tree = ReadRawTree(bytes, handle);
    std::vector<uint8_t> data;
    for (uint32_t block : tree.dataBlocks)
        for (uint32_t i = 0; i < header.blockSize && data.size() < tree.size; ++i) {
            uint64_t at = uint64_t(block) * header.blockSize + i;
            data.push_back(at < bytes.size() ? bytes[at] : 0);
        }
    return data;
}

struct RawEntry {
    uint32_t handle;
    uint16_t flags;
    std::string name;
};

// The entries of a directory's data; stops at an entry running past it.
inline std::vector<RawEntry> ParseRawEntries(const std::vector<uint8_t>& data) {
    std::vector<RawEntry> entries;
    for (size_t at = 0; at + 8 <= data.size();) {
        uint16_t length = LoadU16(&data[at + 6]);
        if (at + 8 + length > data.size()) break;
        entries.push_back({LoadU32(&data[at]), LoadU16(&data[at + 4]),
                           std::string(data.begin() + long(at) + 8, data.begin() + long(at) + 8 + length)});
        at += 8 + length;
    }
    return entries;
}
