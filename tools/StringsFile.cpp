// The patcher's loader, watched line by line: the file hands it one byte per
// read, so the position after each of its lines is known exactly.
#include "StringsFile.h"

#include "app/HashIni.h"
#include "framework/AsciiText.h"
#include "pools/PtrPool.h"

#include <cstring>

namespace {

// A read-only file over bytes that delivers one byte per Read.
class TrickleFile : public CFile {
public:
    explicit TrickleFile(const std::vector<uint8_t>& bytes) : bytes_(bytes) { isOpen = true; }

    ErrorCode Read(void* buffer, uint32_t size, uint32_t* bytesRead) override
    {
        const uint32_t n = size > 0 && position_ < bytes_.size() ? 1 : 0;
        if (n)
            static_cast<uint8_t*>(buffer)[0] = bytes_[position_++];
        if (bytesRead)
            *bytesRead = n;
        return n < size ? ERR_EOF : nullptr;
    }
    uint32_t GetSize() override { return static_cast<uint32_t>(bytes_.size()); }
    uint32_t Tell() override { return position_; }

private:
    const std::vector<uint8_t>& bytes_;
    uint32_t position_ = 0;
};

bool IsBreak(uint8_t c) { return c == '\r' || c == '\n'; }

// The loader with every line it reads recorded.
class RecordingIni : public CHashIni {
public:
    RecordingIni(const std::vector<uint8_t>& bytes, std::vector<StringsLine>* lines)
        : CHashIni(20, 500, new CSizedPtrPool(), true), bytes_(bytes), file_(bytes), lines_(lines)
    {
        LoadFile(&file_);
    }

    int ReadLine(char* line, char** key, char** value, char** comment) override
    {
        uint32_t start = file_.Tell();
        const int more = CHashIni::ReadLine(line, key, value, comment);
        while (start < bytes_.size() && IsBreak(bytes_[start]))
            ++start;
        if (start >= bytes_.size())
            return more; // no character taken: the end of the file
        StringsLine recorded;
        recorded.number = LineNumberAt(start);
        recorded.key = *key;
        recorded.value = *value;
        recorded.comment = *comment;
        recorded.continuation = start > 0 && !IsBreak(bytes_[start - 1]);
        uint32_t length = 0;
        while (start + length < bytes_.size() && !IsBreak(bytes_[start + length]))
            ++length;
        recorded.overlong = length >= kLineSize;
        const uint32_t taken = recorded.overlong ? kLineSize - 1 : length;
        recorded.commented = std::memchr(bytes_.data() + start, ';', taken) != nullptr;
        const size_t keyLength = recorded.key.size();
        recorded.header = keyLength >= 2 && recorded.key[0] == '[' && recorded.key[keyLength - 1] == ']';
        if (recorded.header)
            ++sections_;
        recorded.section = sections_ - 1;
        lines_->push_back(recorded);
        return more;
    }

private:
    // Counts line ends up to offset, remembering where it got to: the
    // loader's lines come in file order.
    uint32_t LineNumberAt(uint32_t offset)
    {
        for (; counted_ < offset; ++counted_) {
            const uint8_t c = bytes_[counted_];
            if (c == '\n' || (c == '\r' && (counted_ + 1 >= bytes_.size() || bytes_[counted_ + 1] != '\n')))
                ++number_;
        }
        return number_;
    }

    const std::vector<uint8_t>& bytes_;
    TrickleFile file_;
    std::vector<StringsLine>* lines_;
    int sections_ = 0;
    uint32_t counted_ = 0;
    uint32_t number_ = 1;
};

bool SameName(const std::string& a, const char* b) { return CompareNoCase(a.c_str(), b) == 0; }

} // namespace

StringsFile::StringsFile(const std::vector<uint8_t>& bytes) : table_(new RecordingIni(bytes, &lines_)) {}

StringsFile::~StringsFile() = default;

bool StringsFile::HasSections() const { return table_->FirstSection() != nullptr; }

std::optional<std::string> StringsFile::Value(const char* section, const char* key) const
{
    const char* value = table_->FindValue(section, key);
    if (value == nullptr)
        return std::nullopt;
    return std::string(value);
}

int StringsFile::SectionHeader(const char* section) const
{
    if (!HasSections())
        return -1;
    for (int i = static_cast<int>(lines_.size()) - 1; i >= 0; --i) {
        const StringsLine& line = lines_[static_cast<size_t>(i)];
        if (line.header && SameName(line.key.substr(1, line.key.size() - 2), section))
            return i;
    }
    return -1;
}

int StringsFile::LineOf(const char* section, const char* key) const
{
    const int header = SectionHeader(section);
    if (header < 0)
        return -1;
    const int index = lines_[static_cast<size_t>(header)].section;
    int found = -1;
    for (size_t i = static_cast<size_t>(header) + 1; i < lines_.size() && lines_[i].section == index; ++i)
        if (!lines_[i].key.empty() && SameName(lines_[i].key, key))
            found = static_cast<int>(i);
    return found;
}
