// A reader of the .lnk fields the shell link writes, for the tests: the
// header, the LinkInfo's local base path and the StringData texts.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

struct LnkFile {
    bool valid = false;
    uint32_t flags = 0, attributes = 0, fileSize = 0, showCommand = 0;
    int32_t iconIndex = 0;
    uint64_t writeTime = 0;
    std::string localBasePath, description, relativePath, workingDirectory, arguments, iconLocation;
};

inline uint32_t LnkRead32(const std::vector<uint8_t>& b, size_t at)
{
    return at + 4 > b.size() ? 0
                             : static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 |
                                   static_cast<uint32_t>(b[at + 2]) << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

inline LnkFile ReadLnk(const std::vector<uint8_t>& b)
{
    static const uint8_t clsid[16] = {0x01, 0x14, 0x02, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
    LnkFile lnk;
    if (b.size() < 76 + 4 || LnkRead32(b, 0) != 0x4C || !std::equal(clsid, clsid + 16, b.begin() + 4))
        return lnk;
    lnk.flags = LnkRead32(b, 20);
    lnk.attributes = LnkRead32(b, 24);
    lnk.writeTime = LnkRead32(b, 44) | static_cast<uint64_t>(LnkRead32(b, 48)) << 32;
    lnk.fileSize = LnkRead32(b, 52);
    lnk.iconIndex = static_cast<int32_t>(LnkRead32(b, 56));
    lnk.showCommand = LnkRead32(b, 60);
    size_t at = 76;
    if (lnk.flags & 0x02) {
        const uint32_t size = LnkRead32(b, at);
        const uint32_t baseOffset = LnkRead32(b, at + 16);
        for (size_t i = at + baseOffset; i < b.size() && b[i] != 0; ++i)
            lnk.localBasePath += static_cast<char>(b[i]);
        at += size;
    }
    std::string* fields[5] = {&lnk.description, &lnk.relativePath, &lnk.workingDirectory, &lnk.arguments,
                              &lnk.iconLocation};
    for (int i = 0; i < 5; ++i) {
        if ((lnk.flags & (0x04u << i)) == 0)
            continue;
        if (at + 2 > b.size())
            return lnk;
        const size_t count = b[at] | b[at + 1] << 8;
        at += 2;
        for (size_t k = 0; k < count && at + 1 < b.size(); ++k, at += 2) {
            const unsigned unit = b[at] | b[at + 1] << 8;
            *fields[i] += unit < 0x100 ? static_cast<char>(unit) : '?';
        }
    }
    lnk.valid = at + 4 == b.size() && LnkRead32(b, at) == 0;
    return lnk;
}
