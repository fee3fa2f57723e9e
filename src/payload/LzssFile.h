// CLzssFile: the uncompressed contents of a block-compressed container
// (layout in LzssFormat.h) held in its base file, as a file of its own. One
// block at a time is held decoded in a work buffer. This class only reads,
// which is all the patcher does; CWritableLzssFile (LzssWritableFile.h), for
// the tool and the tests, adds writing, resizing and flushing.
//
// A reader may hand it any file, a CWindowFile included.
#pragma once

#include <cstdint>

#include "file/File.h"
#include "payload/LzssFormat.h"

class CLzssFile : public CFile {
public:
    static const char* const className;  // "CLzssFile"

    // isOpen tells whether the container's header and table were read. One
    // that is not open has size 0 and refuses every read and write.
    CLzssFile(CFile* base, bool ownsBase);
    ~CLzssFile() override;

    const char* GetClassName() const override;
    CObject* IsKindOf(const char* name) override;

    ErrorCode Read(void* buffer, uint32_t size, uint32_t* bytesRead) override;
    // "\"Not implemented yet\"" here, as SetSize (Truncate) is.
    ErrorCode Write(const void* buffer, uint32_t size, uint32_t* bytesWritten) override;
    // Any origin's result below 0 is position 0.
    ErrorCode Seek(int32_t offset, int16_t origin) override;
    uint32_t GetSize() override;
    uint32_t Tell() override;
    ErrorCode Truncate() override;

    virtual ErrorCode ResizeBlockTable(uint32_t count);
    // "\"Not implemented yet\"" here: resizing is writing.
    virtual ErrorCode SetSize(uint32_t size);
    // Writes a dirty current block back, then makes block index current,
    // reading and decoding it when readContents is set.
    virtual ErrorCode LoadBlock(int32_t index, bool readContents);

    // The container's layout as this object holds it (the table may differ
    // from the base until Flush).
    uint32_t BlockSize() const { return blockSize; }
    uint8_t BitLengths() const { return header[12]; }
    uint32_t BlockCount() const { return blockCount; }
    // Offset of block index's stored bytes in the base; BlockOffset(count)
    // is the container's end.
    uint32_t BlockOffset(uint32_t index) const { return table[index]; }

protected:
    uint32_t BlockLength(uint32_t index) const { return LzssBlockLength(size, blockSize, index); }
    // Stores the dirty current block; only a writable file has one.
    virtual ErrorCode WriteBack();
    bool SpanValid(uint32_t index) const;

    uint8_t header[kLzssHeaderSize] = {};
    uint32_t* table = nullptr;
    uint32_t tableCapacity = 0;
    uint32_t blockCount = 0;
    int32_t currentBlock = -1;
    bool blockDirty = false;
    uint32_t workSize = 0;
    uint8_t* work = nullptr;
    uint32_t position = 0;
    // Header fields in host order (the size is also kept in header[4..8)).
    uint32_t size = 0;
    uint32_t blockSize = 0;

private:
    ErrorCode ReadBlock(uint32_t index);

    uint8_t* stream = nullptr;  // a stored block's bytes, once a block is read (workSize bytes)
};
