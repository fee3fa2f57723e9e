#include "ExecutableImage.h"

#include <algorithm>
#include <cstring>

namespace {

uint64_t ImageLoad(const uint8_t* bytes, size_t size, uint64_t at, unsigned width) {
    uint64_t v = 0;
    if (at > size || width > size - at) return 0;
    for (unsigned i = 0; i < width; ++i) v |= uint64_t(bytes[at + i]) << (8 * i);
    return v;
}

bool ReadPe(const uint8_t* b, size_t size, ExecutableImage* image) {
    const uint64_t pe = ImageLoad(b, size, 0x3C, 4);
    if (ImageLoad(b, size, pe, 4) != 0x4550) return false;
    const uint64_t machine = ImageLoad(b, size, pe + 4, 2), count = ImageLoad(b, size, pe + 6, 2);
    const uint64_t optional = pe + 24, magic = ImageLoad(b, size, optional, 2);
    const bool wide = magic == 0x20B;
    if (!(machine == 0x14C && magic == 0x10B) && !(machine == 0x8664 && wide)) return false;
    image->base = wide ? ImageLoad(b, size, optional + 24, 8) : ImageLoad(b, size, optional + 28, 4);
    image->imageSize = uint32_t(ImageLoad(b, size, optional + 56, 4));
    const uint64_t table = optional + ImageLoad(b, size, pe + 20, 2);
    for (uint64_t s = 0; s < count; ++s) {
        const uint64_t at = table + 40 * s;
        if (at + 40 > size) return false;
        char name[9] = {};
        std::memcpy(name, b + at, 8);
        const uint32_t virtualSize = uint32_t(ImageLoad(b, size, at + 8, 4)), rva = uint32_t(ImageLoad(b, size, at + 12, 4));
        uint32_t raw = uint32_t(ImageLoad(b, size, at + 16, 4));
        const uint32_t offset = uint32_t(ImageLoad(b, size, at + 20, 4));
        const uint32_t flags = uint32_t(ImageLoad(b, size, at + 36, 4));
        if (virtualSize && virtualSize < raw) raw = virtualSize;
        ImageSection section{offset, raw, rva, wide ? kRefCode64 : kRefCode32};
        if (!(flags & 0x20000020)) {
            // Data: relocated addresses, or in 64-bit images the rvas of the
            // exception tables.
            section.kind = !wide ? kRefAddress32 : std::strcmp(name, ".pdata") == 0 ? kRefRva32 : kRefAddress64;
            if (std::strcmp(name, ".reloc") == 0 || std::strcmp(name, ".rsrc") == 0) continue;
        }
        image->sections.push_back(section);
    }
    return true;
}

bool ReadElf(const uint8_t* b, size_t size, ExecutableImage* image) {
    const bool wide = b[4] == 2;
    const uint64_t machine = ImageLoad(b, size, 18, 2);
    if (b[5] != 1 || !((wide && machine == 62) || (!wide && b[4] == 1 && machine == 3))) return false;
    const uint64_t table = wide ? ImageLoad(b, size, 40, 8) : ImageLoad(b, size, 32, 4);
    const uint64_t entry = ImageLoad(b, size, wide ? 58 : 46, 2), count = ImageLoad(b, size, wide ? 60 : 48, 2);
    image->base = 0;
    for (uint64_t s = 0; s < count; ++s) {
        const uint64_t at = table + entry * s;
        if (at + entry > size || entry < (wide ? 64u : 40u)) return false;
        const uint64_t type = ImageLoad(b, size, at + 4, 4);
        const uint64_t flags = wide ? ImageLoad(b, size, at + 8, 8) : ImageLoad(b, size, at + 8, 4);
        const uint64_t address = wide ? ImageLoad(b, size, at + 16, 8) : ImageLoad(b, size, at + 12, 4);
        const uint64_t offset = wide ? ImageLoad(b, size, at + 24, 8) : ImageLoad(b, size, at + 16, 4);
        const uint64_t length = wide ? ImageLoad(b, size, at + 32, 8) : ImageLoad(b, size, at + 20, 4);
        if (!(flags & 2) || type == 8 || length == 0 || address + length > 0xFFFFFFFFu) continue;  // not loaded
        RefKind kind = (flags & 4) ? (wide ? kRefCode64 : kRefCode32) : (wide ? kRefAddress64 : kRefAddress32);
        image->sections.push_back({uint32_t(offset), uint32_t(length), uint32_t(address), kind});
        image->imageSize = std::max(image->imageSize, uint32_t(address + length));
    }
    return true;
}

}  // namespace

bool ExecutableImage::RvaOf(uint32_t offset, uint32_t* rva, uint32_t* left) const {
    for (const ImageSection& s : sections)
        if (offset >= s.offset && offset - s.offset < s.size) {
            *rva = s.rva + (offset - s.offset);
            *left = s.size - (offset - s.offset);
            return true;
        }
    return false;
}

bool ReadExecutableImage(const uint8_t* bytes, size_t size, ExecutableImage* image) {
    *image = ExecutableImage();
    bool read = false;
    if (size >= 64 && bytes[0] == 'M' && bytes[1] == 'Z') read = ReadPe(bytes, size, image);
    if (size >= 64 && std::memcmp(bytes, "\x7F" "ELF", 4) == 0) read = ReadElf(bytes, size, image);
    if (!read) return false;
    // In file order, inside the file, apart, at most kRefMaxRegions.
    std::sort(image->sections.begin(), image->sections.end(),
              [](const ImageSection& a, const ImageSection& c) { return a.offset < c.offset; });
    std::vector<ImageSection> kept;
    uint64_t end = 0;
    for (ImageSection s : image->sections) {
        if (s.offset < end || s.offset >= size || kept.size() == kRefMaxRegions) continue;
        s.size = uint32_t(std::min<uint64_t>(s.size, size - s.offset));
        if (s.size == 0) continue;
        kept.push_back(s);
        end = uint64_t(s.offset) + s.size;
    }
    image->sections = kept;
    return !kept.empty() && image->imageSize != 0;
}
