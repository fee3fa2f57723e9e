// A strings file read by the patcher's own loader (CHashIni), with the line
// of the file each of the loader's lines came from, so that checks can name
// it. Values come from the loaded table, exactly as the patcher finds them.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class CHashIni;

struct StringsLine {
    uint32_t number = 0;       // line in an editor's count (LF, CR LF or CR end a line)
    std::string key, value, comment;
    bool commented = false;    // a ';' was on the line
    bool overlong = false;     // the loader cut it after 1023 characters
    bool continuation = false; // the rest of a cut line, read as a line of its own
    bool header = false;       // "[name]"
    int section = -1;          // index of the section header above it, -1 before the first
};

class StringsFile {
public:
    explicit StringsFile(const std::vector<uint8_t>& bytes);
    ~StringsFile();
    StringsFile(const StringsFile&) = delete;
    StringsFile& operator=(const StringsFile&) = delete;

    // Every line the loader read, in file order.
    const std::vector<StringsLine>& Lines() const { return lines_; }
    // Whether the loader took any section at all.
    bool HasSections() const;
    // The value of [section] key as the patcher finds it, or none.
    std::optional<std::string> Value(const char* section, const char* key) const;
    // Index (into Lines) of the header of the last section of that name,
    // the one lookups use; -1 when there is none.
    int SectionHeader(const char* section) const;
    // Index of the line that supplies [section] key, -1 when none does.
    int LineOf(const char* section, const char* key) const;

private:
    std::vector<StringsLine> lines_; // filled while table_ loads
    std::unique_ptr<CHashIni> table_;
};
