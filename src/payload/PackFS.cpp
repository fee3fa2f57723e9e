#include "payload/PackFS.h"

#include "framework/LittleEndian.h"

#include <cstring>
#include <new>

#include "framework/AsciiText.h"
#include "payload/PackFSFile.h"
#include "payload/PackFormat.h"
#include "pools/DefaultPools.h"

static const char kPackFSName[] = "CPackFS";
const char* const CPackFS::className = kPackFSName;

namespace {

// A find record's working buffer: the full name of the last entry reached,
// then from kSubdirectoryAt the name of a reported subdirectory. Both parts
// hold a whole 255-byte name.
constexpr uint32_t kSubdirectoryAt = 256;
constexpr uint32_t kWorkingBuffer = kSubdirectoryAt + 256;

// Copies an upper-cased name into a 256-byte buffer; false when it is longer
// than any stored name can be.
bool Normalise(const char* name, char* buffer) {
    uint32_t n = 0;
    for (; name[n]; ++n) {
        if (n == kPackMaxNameLength) return false;
        buffer[n] = char(AsciiUpper(uint8_t(name[n])));
    }
    buffer[n] = 0;
    return true;
}

}  // namespace

CPackFS::~CPackFS() {
    delete index;
    delete packFile;
}

const char* CPackFS::GetClassName() const { return className; }

CObject* CPackFS::IsKindOf(const char* name) {
    if (name == className) return this;
    return CFileService::IsKindOf(name);
}

ErrorCode CPackFS::Attach(CFile* file) {
    delete packFile;
    delete index;
    index = nullptr;
    packFile = file;
    if (!packFile) return ERR_BADPARAMS;

    uint8_t header[kPackHeaderSize];
    if (ErrorCode error = packFile->ReadAt(header, 0, kPackHeaderSize, nullptr)) return error;
    if (std::memcmp(header, kPackMagic, sizeof kPackMagic) != 0) return ERR_UNKNOWN;
    const uint32_t count = LoadU32(header + kPackCountOffset);
    const uint32_t directorySize = LoadU32(header + kPackDirectorySizeOffset);
    if (directorySize == 0) return ERR_ALLOCFAIL;
    // A directory that cannot lie inside the pack is refused before any
    // memory is asked for it.
    if (directorySize > packFile->GetSize() || packFile->GetSize() - directorySize < kPackHeaderSize)
        return ERR_INVALIDFORMAT;

    TableHandle directory = HandleAlloc(directorySize);
    if (!directory) return ERR_ALLOCFAIL;
    void* bytes = HandleLock(directory);
    if (!bytes) {
        HandleFree(directory);
        return ERR_LOCKFAIL;
    }
    ErrorCode error = packFile->ReadAt(bytes, kPackHeaderSize, directorySize, nullptr);
    HandleUnlock(directory);
    if (error) {
        HandleFree(directory);
        return error;
    }
    index = CPackIndex::Create(kPackEntryDataSize, directory, directorySize, count, kPackSampleInterval);
    return index ? nullptr : ERR_ALLOCFAIL;
}

CFile* CPackFS::Open(const char* path, uint16_t mode, ErrorCode* error) {
    if (mode & FM_WRITE) {
        if (error) *error = ERR_NUMERIC_8001;
        return nullptr;
    }
    char name[CPackIndex::kNameBuffer];
    uint8_t data[kPackEntryDataSize];
    if (!index || !Normalise(path, name) || !index->ExactLookup(name, data)) {
        if (error) *error = ERR_FILENOTFOUND;
        return nullptr;
    }
    if (error) *error = nullptr;
    return new (std::nothrow) CPackFSFile(packFile, LoadU32(data), LoadU32(data + 4));
}

int CPackFS::Exists(const char* path) {
    char name[CPackIndex::kNameBuffer], found[CPackIndex::kNameBuffer];
    if (!index || !Normalise(path, name)) return 0;
    if (!index->PrefixSearch(name, found, nullptr)) return 0;
    size_t n = std::strlen(name);
    return n == 0 || name[n - 1] != '\\';
}

ErrorCode CPackFS::FindFirst(FindRecord* record, const char* directoryPath) {
    record->service = this;
    record->state = nullptr;
    char prefix[CPackIndex::kNameBuffer];
    // A directory name of 255 bytes or more has no room for a name below it.
    if (!Normalise(directoryPath, prefix)) return ERR_NOTFOUND;
    size_t length = std::strlen(prefix);
    if (length != 0 && prefix[length - 1] != '\\') {
        if (length == kPackMaxNameLength) return ERR_NOTFOUND;
        prefix[length++] = '\\';
        prefix[length] = 0;
    }
    record->cookie = length;
    record->state = g_pDefaultPtrPool->Alloc(kWorkingBuffer);
    if (!record->state) return ERR_ALLOCFAIL;
    char* current = static_cast<char*>(record->state);
    if (!index || !index->PrefixSearch(prefix, current, nullptr)) return ERR_NOTFOUND;
    ReportItem(record);
    return nullptr;
}

ErrorCode CPackFS::FindNext(FindRecord* record) {
    if (!record->state) return ERR_ALLOCFAIL;
    char* current = static_cast<char*>(record->state);
    char previous[CPackIndex::kNameBuffer];
    std::memcpy(previous, current, CPackIndex::kNameBuffer);
    if (!index || !index->Successor(previous, current)) return ERR_NOTFOUND;
    if (std::strncmp(current, previous, record->cookie) != 0) return ERR_NOTFOUND;
    ReportItem(record);
    return nullptr;
}

ErrorCode CPackFS::FindClose(FindRecord* record) {
    g_pDefaultPtrPool->Free(record->state);
    record->state = nullptr;
    return nullptr;
}

// A name with a backslash past the listed directory is in a subdirectory:
// that is reported once, and the buffer steps on to its last entry so that
// the next FindNext passes the whole subdirectory.
void CPackFS::ReportItem(FindRecord* record) {
    char* current = static_cast<char*>(record->state);
    const size_t k = record->cookie;
    const char* separator = std::strchr(current + k, '\\');
    if (!separator) {
        record->attributes = FA_READONLY;
        record->name = current + k;
        return;
    }
    const size_t through = size_t(separator - current) + 1;  // the subdirectory's prefix, backslash included
    char* subdirectory = current + kSubdirectoryAt;
    std::memcpy(subdirectory, current + k, through - 1 - k);
    subdirectory[through - 1 - k] = 0;
    char next[CPackIndex::kNameBuffer];
    while (index->Successor(current, next) && std::strncmp(next, current, through) == 0)
        std::memcpy(current, next, CPackIndex::kNameBuffer);
    record->attributes = FA_READONLY | FA_DIRECTORY;
    record->name = subdirectory;
}

uint32_t CPackFS::GetFileOffset(const char* path, ErrorCode* error) {
    char name[CPackIndex::kNameBuffer];
    uint8_t data[kPackEntryDataSize];
    if (!index || !Normalise(path, name) || !index->ExactLookup(name, data)) {
        if (error) *error = ERR_FILENOTFOUND;
        return 0;
    }
    if (error) *error = nullptr;
    return LoadU32(data);
}
