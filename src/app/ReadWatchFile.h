// Loading a strings file whole. CHashIni takes a read that delivers nothing
// for the end of the file, so a read error (a damaged block, a bad sector)
// would leave a table cut short that looks complete. Read through
// CReadWatchFile, a file tells afterwards whether it was read to its end.
#pragma once

#include "file/File.h"

class CHashIni;

class CReadWatchFile : public CFile {
public:
    // Reads through file, which stays the caller's.
    explicit CReadWatchFile(CFile* file);
    ErrorCode Read(void* buffer, uint32_t size, uint32_t* bytesRead) override;
    ErrorCode Seek(int32_t offset, int16_t origin) override;
    uint32_t GetSize() override;
    uint32_t Tell() override;

    // A read failed, or delivered nothing, before the end of the file.
    bool failed = false;
};

// Loads file into table through a CReadWatchFile: "READFAIL", and an empty
// table, when the file could not be read to its end.
ErrorCode LoadWhole(CHashIni* table, CFile* file);
