// CWritableLzssFile: a CLzssFile that also writes, resizes and flushes the
// container, for the tool and the tests (the patcher only reads one). A
// changed block is recompressed and written back, moving the blocks behind
// it as needed, when another block is loaded or the file is flushed.
//
// Writing needs a base whose size follows its writes and truncation (a disk
// or memory file), since the stored blocks move inside it.
#pragma once

#include "payload/LzssFile.h"

class CWritableLzssFile : public CLzssFile {
public:
    static const char* const className;  // "CWritableLzssFile"

    using CLzssFile::CLzssFile;
    // Flushes.
    ~CWritableLzssFile() override;

    const char* GetClassName() const override;
    CObject* IsKindOf(const char* name) override;

    ErrorCode Write(const void* buffer, uint32_t size, uint32_t* bytesWritten) override;
    ErrorCode Flush() override;
    ErrorCode SetSize(uint32_t size) override;

protected:
    ErrorCode WriteBack() override;

private:
    ErrorCode MoveBlocks(uint32_t first, uint32_t to);
    void StoreHeaderFields();

    bool headerDirty = false;
};
