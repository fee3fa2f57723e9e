// Parsing and editing of a registry-export text file (format in
// HostRegistryHive.h).
#include "HostRegistryHive.h"

#include <cstdio>

namespace w32host {

namespace {

const uint32_t kRegSz = 1, kRegBinary = 3, kRegDword = 4;

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualNoCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    return true;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string Trim(const std::string& text)
{
    size_t begin = 0, end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = Lower(c);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// A quoted text starting at text[pos] == '"'; pos ends just past the closing quote.
bool ParseQuoted(const std::string& text, size_t& pos, std::string* out)
{
    out->clear();
    for (++pos; pos < text.size(); ++pos) {
        const char c = text[pos];
        if (c == '"') {
            ++pos;
            return true;
        }
        if (c == '\\' && pos + 1 < text.size() && (text[pos + 1] == '\\' || text[pos + 1] == '"'))
            ++pos;
        *out += text[pos];
    }
    return false;
}

bool ParseHexList(const std::string& text, size_t pos, std::vector<uint8_t>* bytes)
{
    bytes->clear();
    const std::string list = Trim(text.substr(pos));
    if (list.empty())
        return true;
    size_t start = 0;
    for (;;) {
        const size_t comma = list.find(',', start);
        const std::string item = Trim(list.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (item.size() != 2 || HexDigit(item[0]) < 0 || HexDigit(item[1]) < 0)
            return false;
        bytes->push_back(static_cast<uint8_t>(HexDigit(item[0]) * 16 + HexDigit(item[1])));
        if (comma == std::string::npos)
            return true;
        start = comma + 1;
    }
}

bool StartsWithNoCase(const std::string& text, size_t pos, const char* prefix)
{
    for (size_t i = 0; prefix[i] != '\0'; ++i)
        if (pos + i >= text.size() || Lower(text[pos + i]) != prefix[i])
            return false;
    return true;
}

void AppendEscaped(std::string& out, const std::string& text)
{
    out += '"';
    for (char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    out += '"';
}

// A string that the quoted form holds exactly: one terminating NUL, no other
// NUL and no line break.
bool IsPlainString(const std::vector<uint8_t>& data)
{
    if (data.empty() || data.back() != 0)
        return false;
    for (size_t i = 0; i + 1 < data.size(); ++i)
        if (data[i] == 0 || data[i] == '\r' || data[i] == '\n')
            return false;
    return true;
}

enum class ValueKind { Bad, Value, Deletion };

ValueKind ParseValueLine(const std::string& logical, RegistryValue* value)
{
    size_t pos = 0;
    if (logical[0] == '@') {
        value->name.clear();
        pos = 1;
    } else if (logical[0] != '"' || !ParseQuoted(logical, pos, &value->name)) {
        return ValueKind::Bad;
    }
    while (pos < logical.size() && IsBlank(logical[pos]))
        ++pos;
    if (pos >= logical.size() || logical[pos] != '=')
        return ValueKind::Bad;
    ++pos;
    while (pos < logical.size() && IsBlank(logical[pos]))
        ++pos;
    if (pos >= logical.size())
        return ValueKind::Bad;

    if (logical[pos] == '-')
        return Trim(logical.substr(pos)) == "-" ? ValueKind::Deletion : ValueKind::Bad;
    if (logical[pos] == '"') {
        std::string text;
        if (!ParseQuoted(logical, pos, &text) || !Trim(logical.substr(pos)).empty())
            return ValueKind::Bad;
        value->type = kRegSz;
        value->data.assign(text.begin(), text.end());
        value->data.push_back(0);
        return ValueKind::Value;
    }
    if (StartsWithNoCase(logical, pos, "dword:")) {
        const std::string digits = Trim(logical.substr(pos + 6));
        if (digits.empty() || digits.size() > 8)
            return ValueKind::Bad;
        uint32_t number = 0;
        for (char c : digits) {
            if (HexDigit(c) < 0)
                return ValueKind::Bad;
            number = number * 16 + static_cast<uint32_t>(HexDigit(c));
        }
        value->type = kRegDword;
        value->data = {static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8),
                       static_cast<uint8_t>(number >> 16), static_cast<uint8_t>(number >> 24)};
        return ValueKind::Value;
    }
    if (StartsWithNoCase(logical, pos, "hex:")) {
        value->type = kRegBinary;
        return ParseHexList(logical, pos + 4, &value->data) ? ValueKind::Value : ValueKind::Bad;
    }
    if (StartsWithNoCase(logical, pos, "hex(")) {
        const size_t close = logical.find("):", pos + 4);
        if (close == std::string::npos || close == pos + 4 || close > pos + 12)
            return ValueKind::Bad;
        uint32_t type = 0;
        for (size_t i = pos + 4; i < close; ++i) {
            if (HexDigit(logical[i]) < 0)
                return ValueKind::Bad;
            type = type * 16 + static_cast<uint32_t>(HexDigit(logical[i]));
        }
        value->type = type;
        return ParseHexList(logical, close + 2, &value->data) ? ValueKind::Value : ValueKind::Bad;
    }
    return ValueKind::Bad;
}

} // namespace

std::string FormatRegistryValue(const RegistryValue& value)
{
    std::string line;
    if (value.name.empty())
        line = "@";
    else
        AppendEscaped(line, value.name);
    line += '=';
    if (value.type == kRegSz && IsPlainString(value.data)) {
        AppendEscaped(line, std::string(value.data.begin(), value.data.end() - 1));
        return line;
    }
    char text[16];
    if (value.type == kRegDword && value.data.size() == 4) {
        const uint32_t number = static_cast<uint32_t>(value.data[0]) | static_cast<uint32_t>(value.data[1]) << 8 |
                                static_cast<uint32_t>(value.data[2]) << 16 |
                                static_cast<uint32_t>(value.data[3]) << 24;
        std::snprintf(text, sizeof text, "dword:%08x", number);
        return line + text;
    }
    if (value.type == kRegBinary) {
        line += "hex:";
    } else {
        std::snprintf(text, sizeof text, "hex(%x):", value.type);
        line += text;
    }
    for (size_t i = 0; i < value.data.size(); ++i) {
        std::snprintf(text, sizeof text, i == 0 ? "%02x" : ",%02x", value.data[i]);
        line += text;
    }
    return line;
}

bool RegistryHive::Parse(const std::string& text)
{
    lines_.clear();
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            lines_.push_back({text.substr(start), ""});
            break;
        }
        const size_t next = text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? end + 2 : end + 1;
        lines_.push_back({text.substr(start, end - start), text.substr(end, next - end)});
        start = next;
    }
    if (lines_.empty())
        return false;
    std::string header = lines_[0].text;
    if (header.compare(0, 3, "\xEF\xBB\xBF") == 0)
        header.erase(0, 3);
    header = Trim(header);
    if (header != "Windows Registry Editor Version 5.00" && header != "REGEDIT4")
        return false;
    Reindex();
    return !lines_.empty();
}

void RegistryHive::InitEmpty()
{
    lines_ = {{"Windows Registry Editor Version 5.00", "\r\n"}, {"", "\r\n"}};
    blocks_.clear();
}

// Rebuilds the key blocks from the lines. A line that is neither a key, a
// value, a comment nor blank makes the whole file unusable: the lines are
// dropped, which Parse reports.
void RegistryHive::Reindex()
{
    blocks_.clear();
    KeyBlock* current = nullptr;
    bool inDeletedKey = false;
    for (size_t i = 1; i < lines_.size(); ++i) {
        const std::string trimmed = Trim(lines_[i].text);
        if (trimmed.empty())
            continue;
        if (trimmed[0] == ';') {
            if (current != nullptr)
                current->insertLine = i + 1;
            continue;
        }
        if (trimmed[0] == '[') {
            current = nullptr;
            inDeletedKey = false;
            if (trimmed.back() != ']' || trimmed.size() < 3) {
                lines_.clear();
                blocks_.clear();
                return;
            }
            std::string inner = trimmed.substr(1, trimmed.size() - 2);
            if (inner[0] == '-') {
                inDeletedKey = true;
                continue;
            }
            while (!inner.empty() && inner.back() == '\\')
                inner.pop_back();
            const size_t slash = inner.find('\\');
            KeyBlock block;
            block.root = inner.substr(0, slash);
            block.path = slash == std::string::npos ? "" : inner.substr(slash + 1);
            block.headerLine = i;
            block.insertLine = i + 1;
            blocks_.push_back(block);
            current = &blocks_.back();
            continue;
        }
        // A value, continued on the next lines while a line ends in a backslash.
        const size_t first = i;
        std::string logical = trimmed;
        while (!logical.empty() && logical.back() == '\\' && i + 1 < lines_.size()) {
            logical.pop_back();
            logical += Trim(lines_[++i].text);
        }
        RegistryValue value;
        const ValueKind kind = ParseValueLine(logical, &value);
        if (kind == ValueKind::Bad || (current == nullptr && !inDeletedKey)) {
            lines_.clear();
            blocks_.clear();
            return;
        }
        if (current == nullptr)
            continue;
        if (kind == ValueKind::Value)
            current->values.push_back({value, first, i - first + 1});
        current->insertLine = i + 1;
    }
}

bool RegistryHive::KeyExists(const std::string& root, const std::string& path) const
{
    for (const KeyBlock& block : blocks_) {
        if (!EqualNoCase(block.root, root))
            continue;
        if (path.empty() || EqualNoCase(block.path, path))
            return true;
        if (block.path.size() > path.size() && block.path[path.size()] == '\\' &&
            EqualNoCase(block.path.substr(0, path.size()), path))
            return true;
    }
    return false;
}

bool RegistryHive::FindValue(const std::string& root, const std::string& path, const std::string& name,
                             RegistryValue* value) const
{
    bool found = false;
    for (const KeyBlock& block : blocks_) {
        if (!EqualNoCase(block.root, root) || !EqualNoCase(block.path, path))
            continue;
        for (const ValueLines& lines : block.values) {
            if (EqualNoCase(lines.value.name, name)) {
                *value = lines.value;
                found = true;
            }
        }
    }
    return found;
}

std::string RegistryHive::NewLineEnding() const
{
    for (const Line& line : lines_)
        if (!line.ending.empty())
            return line.ending;
    return "\r\n";
}

void RegistryHive::InsertLines(size_t at, const std::vector<std::string>& texts)
{
    const std::string ending = NewLineEnding();
    if (at == lines_.size() && !lines_.empty() && lines_.back().ending.empty())
        lines_.back().ending = ending;
    std::vector<Line> added;
    for (const std::string& text : texts)
        added.push_back({text, ending});
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), added.begin(), added.end());
}

void RegistryHive::AddKey(const std::string& root, const std::string& path)
{
    std::vector<std::string> texts;
    if (!lines_.empty() && !Trim(lines_.back().text).empty())
        texts.push_back("");
    texts.push_back("[" + root + (path.empty() ? "" : "\\" + path) + "]");
    InsertLines(lines_.size(), texts);
    Reindex();
}

void RegistryHive::SetValue(const std::string& root, const std::string& path, const RegistryValue& value)
{
    std::string text = FormatRegistryValue(value);
    const ValueLines* last = nullptr;
    const KeyBlock* lastBlock = nullptr;
    for (const KeyBlock& block : blocks_) {
        if (!EqualNoCase(block.root, root) || !EqualNoCase(block.path, path))
            continue;
        lastBlock = &block;
        for (const ValueLines& lines : block.values)
            if (EqualNoCase(lines.value.name, value.name))
                last = &lines;
    }
    if (last != nullptr) {
        // An existing value keeps the letter case of its name.
        RegistryValue renamed = value;
        renamed.name = last->value.name;
        text = FormatRegistryValue(renamed);
        const size_t first = last->first, count = last->count;
        const std::string ending = lines_[first + count - 1].ending;
        lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(first),
                     lines_.begin() + static_cast<std::ptrdiff_t>(first + count));
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(first), Line{text, ending});
    } else if (lastBlock != nullptr) {
        InsertLines(lastBlock->insertLine, {text});
    } else {
        AddKey(root, path);
        InsertLines(lines_.size(), {text});
    }
    Reindex();
}

std::string RegistryHive::Text() const
{
    std::string text;
    for (const Line& line : lines_)
        text += line.text + line.ending;
    return text;
}

} // namespace w32host
