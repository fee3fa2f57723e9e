#include "app/ReadWatchFile.h"

#include "app/HashIni.h"

CReadWatchFile::CReadWatchFile(CFile* file) : CFile(file, false) { isOpen = true; }

ErrorCode CReadWatchFile::Read(void* buffer, uint32_t size, uint32_t* bytesRead) {
    ErrorCode error = base->Read(buffer, size, bytesRead);
    // Each class has its own word for the end (an error or a count of 0);
    // only the position tells the end from a failure.
    bool nothing = error || (bytesRead && *bytesRead == 0);
    if (size && nothing && base->Tell() < base->GetSize()) failed = true;
    return error;
}

ErrorCode CReadWatchFile::Seek(int32_t offset, int16_t origin) { return base->Seek(offset, origin); }
uint32_t CReadWatchFile::GetSize() { return base->GetSize(); }
uint32_t CReadWatchFile::Tell() { return base->Tell(); }

ErrorCode LoadWhole(CHashIni* table, CFile* file) {
    if (!file) return table->LoadFile(nullptr);
    CReadWatchFile watched(file);
    ErrorCode error = table->LoadFile(&watched);
    if (!error && watched.failed) {
        table->Clear();
        error = ERR_READFAIL;
    }
    return error;
}
