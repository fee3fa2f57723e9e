// The directory tree of an HPFS pack, read through CBFHP and CHPFS as the
// patcher reads the game's pack: every directory and file with its size and
// (when asked) its bytes. A damaged pack gives a ToolError; a directory that
// contains itself is cut off at a fixed depth instead of recursing forever.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct HpfsItem {
    std::string path;  // backslash-separated, directories end in '\'
    bool directory = false;
    uint32_t size = 0;
    std::vector<uint8_t> bytes;  // files only, when contents were asked for
};

std::vector<HpfsItem> ReadHpfsTree(const std::vector<uint8_t>& image, bool withContents);
