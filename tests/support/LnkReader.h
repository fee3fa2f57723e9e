// Reads back a Shell Link (.lnk) file for the tests, whoever wrote it: the
// host layer's shell link, Wine's shell, or a test. Layout, little-endian:
// a 76-byte header (size 0x4C, the link class id, link flags at 20, the
// target's attributes at 24, write time at 44, size at 52, icon index at 56,
// show command at 60); the ID list (flag 0x01: a 16-bit size, skipped);
// LinkInfo (flag 0x02: a 32-bit size, flags at 8 with bit 1 for a local base
// path, whose offset is held at 16); then the StringData entries present by
// flag in this order: description 0x04, relative path 0x08, working
// directory 0x10, arguments 0x20, icon location 0x40, each a 16-bit count of
// characters (UTF-16 with IsUnicode 0x80, else bytes); last the ExtraData
// blocks, of which the host layer writes only the terminal one.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

struct LnkFile {
    std::string error; // empty: header, blocks and strings lie within the file
    bool valid = false; // read without error and ends with the terminal block right after the strings
    uint32_t flags = 0, attributes = 0, fileSize = 0, showCommand = 0;
    int32_t iconIndex = 0;
    uint64_t writeTime = 0;
    std::string localBasePath, description, relativePath, workingDirectory, arguments, iconLocation;
    // A string counted its terminating NUL in (Wine's shell does; the text
    // above ends before it).
    bool countedNul = false;
};

namespace lnk_detail {

class Cursor {
public:
    explicit Cursor(const std::string& bytes) : bytes_(bytes) {}
    bool Has(size_t count) const { return pos_ <= bytes_.size() && bytes_.size() - pos_ >= count; }
    uint32_t At(size_t offset, size_t width) const
    {
        uint32_t value = 0;
        for (size_t i = 0; i < width && offset + i < bytes_.size(); ++i)
            value |= uint32_t(uint8_t(bytes_[offset + i])) << (8 * i);
        return value;
    }
    uint32_t Read(size_t width)
    {
        const uint32_t value = At(pos_, width);
        pos_ += width;
        return value;
    }
    size_t Pos() const { return pos_; }
    void Skip(size_t count) { pos_ += count; }

private:
    const std::string& bytes_;
    size_t pos_ = 0;
};

inline LnkFile Failed(LnkFile lnk, const char* why)
{
    lnk.error = why;
    return lnk;
}

} // namespace lnk_detail

// The fields of a link; error says why bytes are no link or are cut short.
// UTF-16 characters above 0xFF come back as '?'.
inline LnkFile ReadLnk(const std::string& bytes)
{
    static const char clsid[16] = {0x01, 0x14, 0x02, 0, 0, 0, 0, 0, char(0xC0), 0, 0, 0, 0, 0, 0, 0x46};
    lnk_detail::Cursor in(bytes);
    LnkFile lnk;
    if (!in.Has(76) || in.At(0, 4) != 0x4C || bytes.compare(4, 16, clsid, 16) != 0)
        return lnk_detail::Failed(lnk, "not a shell link header");
    lnk.flags = in.At(20, 4);
    lnk.attributes = in.At(24, 4);
    lnk.writeTime = in.At(44, 4) | uint64_t(in.At(48, 4)) << 32;
    lnk.fileSize = in.At(52, 4);
    lnk.iconIndex = int32_t(in.At(56, 4));
    lnk.showCommand = in.At(60, 4);
    in.Skip(76);
    if (lnk.flags & 0x01) {
        if (!in.Has(2) || !in.Has(2 + in.At(in.Pos(), 2)))
            return lnk_detail::Failed(lnk, "ID list cut short");
        in.Skip(2 + in.At(in.Pos(), 2));
    }
    if (lnk.flags & 0x02) {
        const size_t start = in.Pos();
        if (!in.Has(28))
            return lnk_detail::Failed(lnk, "LinkInfo cut short");
        const uint32_t size = in.At(start, 4), baseOffset = in.At(start + 16, 4);
        if (size < 28 || !in.Has(size) || baseOffset >= size)
            return lnk_detail::Failed(lnk, "LinkInfo out of bounds");
        if (in.At(start + 8, 4) & 1)
            for (size_t i = start + baseOffset; i < start + size && bytes[i] != '\0'; ++i)
                lnk.localBasePath += bytes[i];
        in.Skip(size);
    }
    std::string* strings[5] = {&lnk.description, &lnk.relativePath, &lnk.workingDirectory, &lnk.arguments,
                               &lnk.iconLocation};
    const size_t width = lnk.flags & 0x80 ? 2 : 1;
    for (int i = 0; i < 5; ++i) {
        if ((lnk.flags & (0x04u << i)) == 0)
            continue;
        if (!in.Has(2))
            return lnk_detail::Failed(lnk, "string data cut short");
        const uint32_t count = in.Read(2);
        if (!in.Has(count * width))
            return lnk_detail::Failed(lnk, "string data cut short");
        for (uint32_t c = 0; c < count; ++c) {
            const uint32_t unit = in.Read(width);
            strings[i]->push_back(unit < 0x100 ? char(unit) : '?');
        }
        while (!strings[i]->empty() && strings[i]->back() == '\0') {
            strings[i]->pop_back();
            lnk.countedNul = true;
        }
    }
    lnk.valid = in.Pos() + 4 == bytes.size() && in.At(in.Pos(), 4) == 0;
    return lnk;
}

inline LnkFile ReadLnk(const std::vector<uint8_t>& bytes)
{
    return ReadLnk(std::string(bytes.begin(), bytes.end()));
}

// The link in a host file; a missing file reads as no link.
inline LnkFile ReadLnkFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return lnk_detail::Failed(LnkFile(), "cannot open the file");
    return ReadLnk(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
}
