#include "app/HashIni.h"

#include <cstring>

#include "app/HashName.h"
#include "app/ReadWatchFile.h"
#include "file/MountTable.h"
#include "framework/AsciiText.h"
#include "pools/DefaultPools.h"

namespace {

uint32_t HashSection(const void* key, uint32_t bucketCount) {
    return HashName(static_cast<const IniSection*>(key)->name) % bucketCount;
}

int16_t CompareSection(const void* probe, const void* element) {
    int result = CompareNoCase(static_cast<const IniSection*>(probe)->name, static_cast<const IniSection*>(element)->name);
    return result == 0 ? 0 : (result < 0 ? -1 : 1);
}

// An entry is keyed by its section record and its name.
uint32_t HashEntry(const void* key, uint32_t bucketCount) {
    const IniEntry* entry = static_cast<const IniEntry*>(key);
    return (HashName(entry->section->name) + HashName(entry->name)) % bucketCount;
}

int16_t CompareEntry(const void* probe, const void* element) {
    const IniEntry* a = static_cast<const IniEntry*>(probe);
    const IniEntry* b = static_cast<const IniEntry*>(element);
    if (a->section != b->section) return 1;
    int result = CompareNoCase(a->name, b->name);
    return result == 0 ? 0 : (result < 0 ? -1 : 1);
}

void FreeRecord(void* record, void* allocator) { static_cast<CPtrPool*>(allocator)->Free(record); }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsBreak(int c) { return c == '\r' || c == '\n'; }

// Trims blanks and tabs from [start, end) in place and terminates the rest.
char* Trim(char* start, char* end) {
    while (start < end && IsBlank(*start)) ++start;
    while (end > start && IsBlank(end[-1])) --end;
    *end = '\0';
    return start;
}

}  // namespace

CHashIni::CHashIni(uint32_t sectionBuckets, uint32_t entryBuckets, CPtrPool* allocator, bool ownsAllocator)
    : sections_(sectionBuckets, HashSection, CompareSection, FreeRecord, 0, 0),
      entries_(entryBuckets, HashEntry, CompareEntry, FreeRecord, 0, 0),
      allocator_(allocator),
      ownsAllocator_(ownsAllocator) {
    sections_.userData = allocator_;
    entries_.userData = allocator_;
}

CHashIni::~CHashIni() {
    Clear();
    // The indexes must be empty before the allocator goes: clear them now,
    // their destructors then find nothing to dispose of.
    sections_.Clear();
    entries_.Clear();
    if (ownsAllocator_) delete allocator_;
}

int CHashIni::NextChar() {
    if (readPosition_ >= readCount_) {
        uint32_t count = 0;
        file_->Read(readBuffer_, kReadBufferSize, &count);
        readCount_ = count <= kReadBufferSize ? count : 0;
        readPosition_ = 0;
        if (readCount_ == 0) return -1;
    }
    return static_cast<unsigned char>(readBuffer_[readPosition_++]);
}

int CHashIni::ReadLine(char* line, char** key, char** value, char** comment) {
    int c;
    do {
        c = NextChar();
    } while (IsBreak(c));
    if (c < 0) {
        line[0] = '\0';
        *key = *value = *comment = line;
        return 0;
    }

    // Invariant: positions [0, length) hold the line's characters so far.
    bool atEnd = false;
    uint32_t length = 0;
    line[length++] = static_cast<char>(c);
    for (;;) {
        if (length == kLineSize) {  // overlong: the 1024th character is lost
            length = kLineSize - 1;
            break;
        }
        c = NextChar();
        if (c < 0) {
            atEnd = true;
            break;
        }
        if (IsBreak(c)) break;
        line[length++] = static_cast<char>(c);
    }
    line[length] = '\0';

    char* end = line + length;
    char* semicolon = std::strchr(line, ';');
    if (semicolon) {
        *semicolon = '\0';
        *comment = semicolon + 1;
        end = semicolon;
    } else {
        *comment = end;
    }
    char* equals = std::strchr(line, '=');
    if (equals) {
        *key = Trim(line, equals);
        *value = Trim(equals + 1, end);
    } else {
        *key = Trim(line, end);
        *value = end;  // the terminator: an empty text
    }
    return atEnd ? 0 : 1;
}

ErrorCode CHashIni::AddSection(const char* name, uint32_t nameLength, const char* comment) {
    size_t commentLength = std::strlen(comment);
    auto* section =
        static_cast<IniSection*>(allocator_->Alloc(uint32_t(sizeof(IniSection) + nameLength + commentLength + 2)));
    if (!section) return ERR_ALLOCFAIL;
    char* text = reinterpret_cast<char*>(section + 1);
    std::memcpy(text, name, nameLength);
    text[nameLength] = '\0';
    std::memcpy(text + nameLength + 1, comment, commentLength + 1);
    section->link = nullptr;
    section->next = nullptr;
    section->previous = lastSection_;
    section->firstEntry = nullptr;
    section->lastEntry = nullptr;
    section->name = text;
    if (lastSection_)
        lastSection_->next = section;
    else
        firstSection_ = section;
    lastSection_ = section;
    sections_.Insert(section);
    return nullptr;
}

ErrorCode CHashIni::AddEntry(const char* key, const char* value, const char* comment) {
    size_t keyLength = std::strlen(key);
    size_t valueLength = std::strlen(value);
    size_t commentLength = std::strlen(comment);
    auto* entry = static_cast<IniEntry*>(
        allocator_->Alloc(uint32_t(sizeof(IniEntry) + keyLength + valueLength + commentLength + 3)));
    if (!entry) return ERR_ALLOCFAIL;
    char* text = reinterpret_cast<char*>(entry + 1);
    std::memcpy(text, key, keyLength + 1);
    std::memcpy(text + keyLength + 1, value, valueLength + 1);
    std::memcpy(text + keyLength + valueLength + 2, comment, commentLength + 1);
    IniSection* section = lastSection_;
    entry->link = nullptr;
    entry->next = nullptr;
    entry->previous = section->lastEntry;
    entry->section = section;
    entry->name = text;
    if (section->lastEntry)
        section->lastEntry->next = entry;
    else
        section->firstEntry = entry;
    section->lastEntry = entry;
    // Unnamed (comment) entries are kept in order but never looked up.
    if (keyLength) entries_.Insert(entry);
    return nullptr;
}

ErrorCode CHashIni::LoadFile(CFile* file) {
    Clear();
    if (!file) return ERR_BADPARAMS;
    readBuffer_ = static_cast<char*>(g_pDefaultPtrPool->Alloc(kReadBufferSize));
    if (!readBuffer_) return ERR_ALLOCFAIL;
    readCount_ = 0;
    readPosition_ = 0;
    file_ = file;

    char* line = static_cast<char*>(g_pDefaultPtrPool->Alloc(kLineSize));
    ErrorCode error = line ? nullptr : ERR_ALLOCFAIL;
    char* key;
    char* value;
    char* comment;
    int more = 1;
    // Up to the first section header: a header on the file's very last line
    // (no break behind it) is not taken.
    while (line && !lastSection_) {
        more = ReadLine(line, &key, &value, &comment);
        if (!more) break;
        size_t keyLength = std::strlen(key);
        if (keyLength >= 2 && key[0] == '[' && key[keyLength - 1] == ']')
            error = AddSection(key + 1, uint32_t(keyLength - 2), comment);
        if (error) break;
    }
    while (line && lastSection_ && more && !error) {
        more = ReadLine(line, &key, &value, &comment);
        size_t keyLength = std::strlen(key);
        if (keyLength >= 2 && key[0] == '[' && key[keyLength - 1] == ']')
            error = AddSection(key + 1, uint32_t(keyLength - 2), comment);
        else if (keyLength || *comment)
            error = AddEntry(key, value, comment);
    }

    if (line) g_pDefaultPtrPool->Free(line);
    g_pDefaultPtrPool->Free(readBuffer_);
    readBuffer_ = nullptr;
    readCount_ = readPosition_ = 0;
    file_ = nullptr;
    // A record that could not be allocated leaves no half-loaded table.
    if (error) Clear();
    return error;
}

ErrorCode CHashIni::LoadPath(const char* path) {
    ErrorCode error = nullptr;
    CFile* file = g_FileApi.Open(path, FM_READ | FM_SHARE_READ | FM_SHARE_WRITE, &error);
    if (!file) return error ? error : ERR_OPENFAIL;
    error = LoadWhole(this, file);
    delete file;
    return error;
}

const char* CHashIni::FindValue(const char* section, const char* key) {
    if (!section || !key) return nullptr;
    IniSection sectionProbe{};
    sectionProbe.name = const_cast<char*>(section);
    auto* found = static_cast<IniSection*>(sections_.Find(&sectionProbe, nullptr));
    if (!found) return nullptr;
    IniEntry entryProbe{};
    entryProbe.section = found;
    entryProbe.name = const_cast<char*>(key);
    auto* entry = static_cast<IniEntry*>(entries_.Find(&entryProbe, nullptr));
    if (!entry) return nullptr;
    return entry->name + std::strlen(key) + 1;
}

ErrorCode CHashIni::GetString(const char* section, const char* key, char* destination, uint32_t size) {
    const char* value = FindValue(section, key);
    if (!value) return ERR_NOTFOUND;
    if (!destination || size == 0) return ERR_UNKNOWN;
    if (size == UINT32_MAX) {
        std::strcpy(destination, value);
        return nullptr;
    }
    std::strncpy(destination, value, size);
    destination[size - 1] = '\0';
    return nullptr;
}

void CHashIni::Clear() {
    // Unnamed entries are in no index: free them here, the indexes free the rest.
    for (IniSection* section = firstSection_; section; section = section->next) {
        IniEntry* entry = section->firstEntry;
        while (entry) {
            IniEntry* next = entry->next;
            if (entry->name[0] == '\0') allocator_->Free(entry);
            entry = next;
        }
    }
    sections_.Clear();
    entries_.Clear();
    firstSection_ = nullptr;
    lastSection_ = nullptr;
}
