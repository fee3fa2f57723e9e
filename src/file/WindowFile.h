// CWindowFile: the byte range [start, start + length) of a base file shown as
// a file of its own whose positions begin at 0. It has no position or buffer
// of its own: the window and its base share the base's position, and every
// transfer goes to the base with start added. Transfers are not clipped at
// the window's end; only the base limits them.
#pragma once

#include <cstdint>

#include "file/File.h"

class CWindowFile : public CFile {
public:
    // A length of kWindowToEnd means up to the end of the base. The base is
    // positioned at start.
    static constexpr uint32_t kWindowToEnd = 0xFFFFFFFFu;

    CWindowFile(CFile* base, uint32_t start, uint32_t length, bool ownsBase);

    ErrorCode ReadAt(void* buffer, uint32_t position, uint32_t size, uint32_t* bytesRead) override;
    ErrorCode WriteAt(const void* buffer, uint32_t position, uint32_t size, uint32_t* bytesWritten) override;
    // ORIGIN_END counts offset bytes back from the window's end (other files
    // add the offset to the end); any other unknown origin moves nothing.
    ErrorCode Seek(int32_t offset, int16_t origin) override;
    // The base's, at the shared position: Truncate ends the base there.
    // Read and Write are not provided (they fail): transfers name their
    // position, through ReadAt and WriteAt.
    ErrorCode Flush() override;
    ErrorCode Truncate() override;
    uint32_t GetSize() override;
    uint32_t Tell() override;
    ErrorCode CopyRange(uint32_t destination, uint32_t source, uint32_t length, uint32_t chunkSize,
                        void* buffer) override;

    uint32_t start;
    uint32_t length;

private:
    ErrorCode SeekBase(int64_t target);
};
