// CHashIni: an INI-style text file held in memory, looked up by section and
// key without regard to ASCII letter case.
//
// Text format (bytes, no character-set conversion):
//   - a line ends at CR or LF; any run of them is one break (no empty lines);
//   - a line holds at most 1023 characters: of a longer one the 1024th is
//     dropped and the 1025th starts the next line;
//   - everything after the first ';' is the line's comment;
//   - the first '=' before the comment splits key and value, both trimmed of
//     blanks and tabs; without '=', the whole trimmed text is the key;
//   - "[name]" opens a section (name kept as written between the brackets);
//   - lines before the first header are ignored; after it a line with empty
//     key and comment is ignored, a comment-only line is kept unnamed;
//   - repeated sections or keys: a lookup finds the last one.
#pragma once

#include <cstdint>

#include "app/HashTable.h"
#include "file/File.h"
#include "framework/ErrorCode.h"
#include "pools/PtrPool.h"

struct IniEntry;

// One allocation: the record, then the name and its NUL, then the header
// line's comment and its NUL.
struct IniSection {
    IniSection* link;  // chain of the section index
    IniSection* next;  // file order
    IniSection* previous;
    IniEntry* firstEntry;
    IniEntry* lastEntry;
    char* name;
};

// One allocation: the record, then name, value and comment, each with NUL.
struct IniEntry {
    IniEntry* link;  // chain of the entry index
    IniEntry* next;  // file order within the section
    IniEntry* previous;
    IniSection* section;
    char* name;
};

inline const char* SectionComment(const IniSection* section) {
    const char* name = section->name;
    while (*name) ++name;
    return name + 1;
}
inline const char* EntryValue(const IniEntry* entry) {
    const char* name = entry->name;
    while (*name) ++name;
    return name + 1;
}
inline const char* EntryComment(const IniEntry* entry) {
    const char* value = EntryValue(entry);
    while (*value) ++value;
    return value + 1;
}

class CHashIni {
public:
    static constexpr uint32_t kLineSize = 1024;     // a line buffer, terminator included
    static constexpr uint32_t kReadBufferSize = 4097;

    CHashIni(uint32_t sectionBuckets, uint32_t entryBuckets, CPtrPool* allocator, bool ownsAllocator);
    CHashIni(const CHashIni&) = delete;
    CHashIni& operator=(const CHashIni&) = delete;
    virtual ~CHashIni();

    // Reads the next line into line (kLineSize bytes) and splits it; key,
    // value and comment point into line. Returns 0 when the end of the file
    // was reached while reading this line or before it, else 1.
    virtual int ReadLine(char* line, char** key, char** value, char** comment);

    // Replaces the contents with those of file ("BADPARAMS" for null).
    ErrorCode LoadFile(CFile* file);
    // Opens path through the mount table for shared reading and loads it;
    // a file that cannot be read to its end leaves the table empty
    // ("READFAIL").
    ErrorCode LoadPath(const char* path);
    // The value text, or null when the section or the key is missing.
    const char* FindValue(const char* section, const char* key);
    // Copies a value: size (uint32_t)-1 copies it whole; otherwise at most
    // size - 1 characters arrive, NUL-padded and terminated.
    ErrorCode GetString(const char* section, const char* key, char* destination, uint32_t size);
    void Clear();

    const IniSection* FirstSection() const { return firstSection_; }
    const IniSection* LastSection() const { return lastSection_; }

private:
    // The next byte of the file, or -1 at its end.
    int NextChar();
    ErrorCode AddSection(const char* name, uint32_t nameLength, const char* comment);
    ErrorCode AddEntry(const char* key, const char* value, const char* comment);

    CHashTable sections_;
    CHashTable entries_;
    IniSection* firstSection_ = nullptr;
    IniSection* lastSection_ = nullptr;
    CPtrPool* allocator_;
    bool ownsAllocator_;
    char* readBuffer_ = nullptr;
    uint32_t readCount_ = 0;
    uint32_t readPosition_ = 0;
    CFile* file_ = nullptr;
};
