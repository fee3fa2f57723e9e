// The Shell Link (.lnk) binary format, as written by the shell link object.
//
// Layout, all integers little-endian:
//   ShellLinkHeader, 76 bytes: header size 0x4C; the class id
//     {00021401-0000-0000-C000-000000000046}; link flags; the target's
//     attributes; creation, access and write times (FILETIME); the target's
//     size; icon index; show command; hot key; 10 reserved zero bytes.
//   LinkInfo (flag HasLinkInfo 0x02), for a target "X:\...": size, header
//     size 0x1C, flags 1 (volume id and local base path), offsets of the
//     volume id, the local base path, the network part (0) and the common
//     path suffix; the volume id (size, drive type 3 = fixed, serial number,
//     label offset 0x10, empty label); the target path and an empty suffix,
//     both NUL-terminated ANSI.
//   StringData, each a 16-bit count of UTF-16 units and the units, without
//     a terminator, in this order when present: description (HasName 0x04),
//     relative path (HasRelativePath 0x08), working directory (HasWorkingDir
//     0x10), arguments (HasArguments 0x20), icon location (HasIconLocation
//     0x40). The flag IsUnicode 0x80 is always set.
//   ExtraData: only the terminal block, four zero bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace w32host {

struct LnkTargetInfo {
    bool known = false; // the target was found: the fields below are set
    uint32_t attributes = 0;
    uint64_t creationTime = 0, accessTime = 0, writeTime = 0; // FILETIME values
    uint32_t size = 0;
};

struct LnkContents {
    std::string target; // ANSI texts
    std::string description;
    std::string relativePath;
    std::string workingDirectory;
    std::string arguments;
    std::string iconLocation;
    int32_t iconIndex = 0;
    uint32_t showCommand = 1; // SW_SHOWNORMAL
    uint16_t hotKey = 0;
    LnkTargetInfo targetInfo;
};

// The file bytes; false when a string is too long for its 16-bit count.
bool BuildLnk(const LnkContents& contents, std::vector<uint8_t>* bytes);

// The path of target relative to the folder that holds fromFile, in the
// shell's form (".\name" or "..\..\dir\name"), or "" when the two are not
// on the same drive. Both are absolute Windows paths; letter case is ignored.
std::string RelativeLinkPath(const std::string& fromFile, const std::string& target);

} // namespace w32host
