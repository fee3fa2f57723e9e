// Reads back the fields of a Shell Link (.lnk) file that the patch sets, so
// that a shortcut written by Wine's shell link object can be checked against
// the same expectations as one written by the Linux host layer.
// Layout: a 76-byte header (size 0x4C, link flags at 20, icon index at 56);
// the ID list (flag 0x01: a 16-bit size, skipped); LinkInfo (flag 0x02: a
// 32-bit size, the local base path at the offset held at 16); then the
// StringData entries present by flag in this order: description 0x04,
// relative path 0x08, working directory 0x10, arguments 0x20, icon location
// 0x40, each a 16-bit count of characters (UTF-16 with IsUnicode 0x80, else
// bytes; Wine's shell counts a terminating NUL in, which is dropped).
#pragma once

#include <cstdint>
#include <string>

namespace winebox {

struct LnkFields {
    std::string targetPath;  // LinkInfo local base path (ANSI)
    std::string description;
    std::string relativePath;
    std::string workingDirectory;
    std::string arguments;
    std::string iconLocation;
    int32_t iconIndex = 0;
};

// False with a reason when the bytes are no shell link or are cut short.
// UTF-16 characters above 0xFF come back as '?'.
bool ReadLnk(const std::string& bytes, LnkFields* fields, std::string* error);

}  // namespace winebox
