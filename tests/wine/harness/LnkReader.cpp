#include "LnkReader.h"

namespace winebox {
namespace {

class Cursor {
public:
    explicit Cursor(const std::string& bytes) : bytes_(bytes) {}
    bool Has(size_t count) const { return pos_ <= bytes_.size() && bytes_.size() - pos_ >= count; }
    uint32_t Read(size_t width) {
        uint32_t value = 0;
        for (size_t i = 0; i < width; ++i) value |= uint32_t(uint8_t(bytes_[pos_ + i])) << (8 * i);
        pos_ += width;
        return value;
    }
    uint32_t At(size_t offset, size_t width) const {
        uint32_t value = 0;
        for (size_t i = 0; i < width; ++i) value |= uint32_t(uint8_t(bytes_[offset + i])) << (8 * i);
        return value;
    }
    size_t Pos() const { return pos_; }
    void Skip(size_t count) { pos_ += count; }

private:
    const std::string& bytes_;
    size_t pos_ = 0;
};

bool Fail(std::string* error, const char* why) {
    *error = why;
    return false;
}

const uint32_t kHasIdList = 0x01, kHasLinkInfo = 0x02, kIsUnicode = 0x80;

}  // namespace

bool ReadLnk(const std::string& bytes, LnkFields* fields, std::string* error) {
    Cursor in(bytes);
    if (!in.Has(76) || in.At(0, 4) != 0x4C || in.At(4, 4) != 0x00021401)
        return Fail(error, "not a shell link header");
    const uint32_t flags = in.At(20, 4);
    LnkFields out;
    out.iconIndex = int32_t(in.At(56, 4));
    in.Skip(76);
    if (flags & kHasIdList) {
        if (!in.Has(2)) return Fail(error, "ID list cut short");
        uint32_t size = in.Read(2);
        if (!in.Has(size)) return Fail(error, "ID list cut short");
        in.Skip(size);
    }
    if (flags & kHasLinkInfo) {
        size_t start = in.Pos();
        if (!in.Has(28)) return Fail(error, "LinkInfo cut short");
        uint32_t size = in.At(start, 4);
        uint32_t baseOffset = in.At(start + 16, 4);
        if (size < 28 || !in.Has(size) || baseOffset >= size) return Fail(error, "LinkInfo out of bounds");
        if (in.At(start + 8, 4) & 1) {
            for (size_t i = start + baseOffset; i < start + size && bytes[i]; ++i) out.targetPath += bytes[i];
        }
        in.Skip(size);
    }
    std::string* strings[] = {&out.description, &out.relativePath, &out.workingDirectory, &out.arguments,
                              &out.iconLocation};
    for (int i = 0; i < 5; ++i) {
        if (!(flags & (0x04u << i))) continue;
        if (!in.Has(2)) return Fail(error, "string data cut short");
        uint32_t count = in.Read(2);
        size_t width = flags & kIsUnicode ? 2 : 1;
        if (!in.Has(count * width)) return Fail(error, "string data cut short");
        for (uint32_t c = 0; c < count; ++c) {
            uint32_t unit = in.Read(width);
            strings[i]->push_back(unit < 0x100 ? char(unit) : '?');
        }
        // Wine counts a terminating NUL into each string; the text ends before it.
        while (!strings[i]->empty() && strings[i]->back() == '\0') strings[i]->pop_back();
    }
    *fields = out;
    return true;
}

}  // namespace winebox
