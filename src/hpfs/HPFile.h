// CHPFile: a CFile whose content is one handle of a handle pool. It keeps no
// buffer; every read and write goes to the pool. Nor does it keep the size:
// that comes from the pool each time, so that files open on the same handle
// see each other's changes. The mode is not enforced here; it matters only
// for the sharing test of the service that opened it.
#pragma once

#include <cstdint>

#include "file/File.h"
#include "pools/HandlePool.h"

class CHPFile : public CFile {
public:
    static const char* const className;  // "CHPFile"

    CHPFile(CHandlePool* pool, PoolHandle handle, uint16_t mode);
    ~CHPFile() override;

    const char* GetClassName() const override;
    CObject* IsKindOf(const char* name) override;

    // With a count, a read is clipped at the end (0 bytes at or past it);
    // without one, a read past the end is "\"Unknown error\"".
    ErrorCode Read(void* buffer, uint32_t size, uint32_t* bytesRead) override;
    // Grows the handle when the write runs past the end. Sizes of 4 GiB - 1
    // and more are refused with "SIZEOUTOFRANGE", as is Truncate there.
    ErrorCode Write(const void* buffer, uint32_t size, uint32_t* bytesWritten) override;
    // No bound is enforced; a later write past the end grows the handle.
    ErrorCode Seek(int32_t offset, int16_t origin) override;
    uint32_t GetSize() override;
    uint32_t Tell() override;
    // Flushes the whole pool and answers "\"Not implemented yet\"".
    ErrorCode Flush() override;
    ErrorCode Truncate() override;

    PoolHandle Handle() const { return handle; }

protected:
    // The handle's size; a pool failure is reported, not taken for size 0.
    ErrorCode CurrentSize(uint32_t* size);

    CHandlePool* pool;  // not owned
    PoolHandle handle;
    uint32_t position = 0;
};
