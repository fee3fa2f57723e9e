// The directory tree of an HPFS pack, read with the patcher's reader (CBFHP
// and CHPFS): every directory and file with its size and (when asked) its
// bytes. Directories are walked by their handles; a handle that a second
// entry names again (a directory inside itself, or one reached twice) is a
// damaged pack, so the walk visits each handle once and its cost follows
// the pack's real size, however deep a sound tree goes. A damaged pack
// gives a ToolError.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct HpfsItem {
    std::string path;  // backslash-separated, directories end in '\'
    bool directory = false;
    uint32_t handle = 0;  // the pool handle its entry names
    uint32_t size = 0;
    std::vector<uint8_t> bytes;  // files only, when contents were asked for
};

std::vector<HpfsItem> ReadHpfsTree(const std::vector<uint8_t>& image, bool withContents);
