// Shell Link layout used here: a 76-byte header (size 0x4C, the link CLSID,
// link flags at 20, icon index at 56), then, as the flags say, a target ID
// list (u16 size + data), a link-info block (u32 size including itself), and
// the string data: description, relative path, working directory, arguments,
// icon location, each a u16 character count and the characters (UTF-16LE
// when IsUnicode is set, else the ANSI code page).
#include "ShellLinkReader.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace e2e {

namespace {

constexpr uint32_t kHasTargetIdList = 0x01;
constexpr uint32_t kHasLinkInfo = 0x02;
constexpr uint32_t kHasName = 0x04;
constexpr uint32_t kHasRelativePath = 0x08;
constexpr uint32_t kHasWorkingDir = 0x10;
constexpr uint32_t kHasArguments = 0x20;
constexpr uint32_t kHasIconLocation = 0x40;
constexpr uint32_t kIsUnicode = 0x80;

const uint8_t kLinkClsid[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

struct Cursor {
    const std::vector<uint8_t>& data;
    size_t at;
    bool ok = true;

    uint32_t Take(size_t bytes) {
        if (at + bytes > data.size()) {
            ok = false;
            return 0;
        }
        uint32_t value = 0;
        for (size_t i = 0; i < bytes; ++i) value |= uint32_t(data[at + i]) << (8 * i);
        at += bytes;
        return value;
    }
    std::string Text(bool unicode) {
        uint32_t count = Take(2);
        std::string text;
        for (uint32_t i = 0; i < count && ok; ++i) {
            uint32_t c = Take(unicode ? 2 : 1);
            text += c < 0x80 ? char(c) : '?';  // the program writes ASCII paths
        }
        return text;
    }
};

}  // namespace

std::optional<ShellLinkStrings> ReadShellLink(const std::string& hostPath) {
    std::ifstream in(hostPath, std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (data.size() < 76 || data[0] != 0x4C || std::memcmp(&data[4], kLinkClsid, 16) != 0) return std::nullopt;
    Cursor c{data, 20};
    uint32_t flags = c.Take(4);
    c.at = 56;
    ShellLinkStrings link;
    link.iconIndex = int32_t(c.Take(4));
    c.at = 76;
    if (flags & kHasTargetIdList) c.at += c.Take(2);
    if (flags & kHasLinkInfo) {
        size_t start = c.at;
        c.at = start + c.Take(4);
    }
    bool unicode = (flags & kIsUnicode) != 0;
    if (flags & kHasName) link.description = c.Text(unicode);
    if (flags & kHasRelativePath) link.relativePath = c.Text(unicode);
    if (flags & kHasWorkingDir) link.workingDirectory = c.Text(unicode);
    if (flags & kHasArguments) link.arguments = c.Text(unicode);
    if (flags & kHasIconLocation) link.iconLocation = c.Text(unicode);
    if (!c.ok) return std::nullopt;
    return link;
}

}  // namespace e2e
