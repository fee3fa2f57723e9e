// The tool's in-memory file (tools/VectorFile.h) for tests, with read and
// write calls counted and made to fail after a given number.
#pragma once

#include "VectorFile.h"

class MemoryFile : public CVectorFile {
public:
    using CVectorFile::CVectorFile;

    ErrorCode Read(void* buffer, uint32_t size, uint32_t* bytesRead) override {
        ++readCalls;
        if (failReadAfter >= 0 && readCalls > failReadAfter) return ERR_READFAIL;
        return CVectorFile::Read(buffer, size, bytesRead);
    }

    ErrorCode Write(const void* buffer, uint32_t size, uint32_t* bytesWritten) override {
        ++writeCalls;
        if (failWriteAfter >= 0 && writeCalls > failWriteAfter) return ERR_WRITEFAIL;
        return CVectorFile::Write(buffer, size, bytesWritten);
    }

    int readCalls = 0;
    int writeCalls = 0;
    int failReadAfter = -1;   // the read calls after this many fail
    int failWriteAfter = -1;  // the write calls after this many fail
};
