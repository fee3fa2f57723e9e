#include "PackDirectory.h"

#include "framework/LittleEndian.h"
#include "payload/PackFormat.h"

#include <cstdio>
#include <cstring>

namespace {

PackFault Fault(const std::string& what, uint64_t offset) { return {what, offset}; }

}  // namespace

PackFault ReadPackDirectory(const std::vector<uint8_t>& pack, std::vector<PackListEntry>* entries,
                            uint64_t packSize) {
    entries->clear();
    const uint64_t size = packSize == UINT64_MAX ? pack.size() : packSize;
    if (pack.size() < kPackHeaderSize || std::memcmp(pack.data(), kPackMagic, sizeof kPackMagic) != 0)
        return Fault("no pack-file header", 0);
    const uint32_t count = LoadU32(pack.data() + kPackCountOffset);
    const uint32_t directorySize = LoadU32(pack.data() + kPackDirectorySizeOffset);
    const uint64_t datesStart = uint64_t(kPackHeaderSize) + directorySize;
    const uint64_t filesStart = datesStart + 4ull * count;
    if (count == 0) return Fault("the directory has no entries", kPackCountOffset);
    if (filesStart > pack.size()) return Fault("the directory and date table run past the end", kPackCountOffset);

    // Each entry: full-name length L, shared prefix P, the L - P new bytes, 8 data bytes.
    std::string previous;
    uint64_t at = kPackHeaderSize;
    for (uint32_t i = 0; i < count; ++i) {
        if (at + 2 > datesStart) return Fault("entry " + std::to_string(i) + " runs past the directory", at);
        const uint32_t length = pack[at], shared = pack[at + 1];
        if (length == 0 || shared > length || shared > previous.size())
            return Fault("entry " + std::to_string(i) + " has a bad name length or shared prefix", at);
        const uint64_t dataAt = at + 2 + (length - shared);
        if (dataAt + kPackEntryDataSize > datesStart)
            return Fault("entry " + std::to_string(i) + " runs past the directory", at);
        std::string name = previous.substr(0, shared);
        name.append(reinterpret_cast<const char*>(pack.data() + at + 2), length - shared);
        if (name.find('\0') != std::string::npos)
            return Fault("entry " + std::to_string(i) + " has a zero byte in its name", at);
        if (i > 0 && !(previous < name))  // char_traits<char> compares as unsigned bytes
            return Fault("entry " + std::to_string(i) + " (" + name + ") is out of order", at);
        PackListEntry entry;
        entry.name = name;
        entry.offset = LoadU32(pack.data() + dataAt);
        entry.size = LoadU32(pack.data() + dataAt + 4);
        entry.dosDateTime = LoadU32(pack.data() + datesStart + 4ull * i);
        if (entry.offset < filesStart || uint64_t(entry.offset) + entry.size > size)
            return Fault("entry " + name + " (" + std::to_string(entry.size) + " bytes at " +
                             std::to_string(entry.offset) + ") lies outside the pack's file area " +
                             std::to_string(filesStart) + ".." + std::to_string(size),
                         dataAt);
        entries->push_back(entry);
        previous = name;
        at = dataAt + kPackEntryDataSize;
    }
    return {};
}

std::string FormatDosDateTime(uint32_t dosDateTime) {
    const uint32_t date = dosDateTime >> 16, time = dosDateTime & 0xFFFF;
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", 1980 + (date >> 9), (date >> 5) & 15,
                  date & 31, time >> 11, (time >> 5) & 63, (time & 31) * 2);
    return text;
}
