// A registry-export text file held as its lines, with the keys and values
// parsed out of them. Edits replace or insert whole lines and leave every
// other line exactly as it was, line endings included.
//
// Format: a first line "Windows Registry Editor Version 5.00" or "REGEDIT4";
// key lines "[ROOT\path]" ("[-...]" deletes and is ignored); below a key,
// value lines "name"=data or @=data (the default value), where data is
// "text" (REG_SZ; inside quotes \\ is a backslash and \" a quote),
// dword:XXXXXXXX (REG_DWORD), hex:xx,xx,... (REG_BINARY) or hex(N):xx,...
// (type N, hexadecimal), a trailing backslash continuing the list on the
// next line; '-' deletes and is ignored. Lines starting with ';' and blank
// lines are kept and ignored. Texts are bytes of the ANSI code page.
// Keys and value names compare without regard to ASCII case; a key exists
// when it or any key below it has a key line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace w32host {

struct RegistryValue {
    std::string name; // "" for the default value
    uint32_t type = 0;
    std::vector<uint8_t> data;
};

class RegistryHive {
public:
    // Parses the text; false when it is not a registry-export file.
    bool Parse(const std::string& text);
    // A new, empty hive file.
    void InitEmpty();

    bool KeyExists(const std::string& root, const std::string& path) const;
    // The value as the last line that sets it gives it; false when absent.
    bool FindValue(const std::string& root, const std::string& path, const std::string& name,
                   RegistryValue* value) const;

    // Replaces the last line of the value, or inserts it at the end of the
    // key's last block; the key must exist or is appended.
    void SetValue(const std::string& root, const std::string& path, const RegistryValue& value);
    // Appends a key line for a key that does not exist yet.
    void AddKey(const std::string& root, const std::string& path);

    std::string Text() const;

private:
    struct Line {
        std::string text;
        std::string ending; // "\r\n", "\n" or "" for a last line without one
    };
    struct ValueLines {
        RegistryValue value;
        size_t first = 0, count = 0;
    };
    struct KeyBlock {
        std::string root, path;
        size_t headerLine = 0;
        size_t insertLine = 0; // just after the block's last value or comment line
        std::vector<ValueLines> values;
    };

    bool ParseValue(const std::string& logical, RegistryValue* value) const;
    std::string NewLineEnding() const;
    void InsertLines(size_t at, const std::vector<std::string>& texts);
    void Reindex();

    std::vector<Line> lines_;
    std::vector<KeyBlock> blocks_;
};

// The line text for a value.
std::string FormatRegistryValue(const RegistryValue& value);

} // namespace w32host
