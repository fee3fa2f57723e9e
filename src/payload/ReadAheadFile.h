// CReadAheadFile: a container's contents read front to back, with the
// blocks ahead of the reader decoded on a helper thread while the reader
// does its own work (the copy worker writes files meanwhile).
//
// Invariants:
// - The container (a CLzssFile, not owned) is used by one thread at a time:
//   by the helper while a span is being decoded ahead, by the reader only
//   after it has waited for the helper. The wait is the hand-over.
// - Two spans of up to kSpanBytes each: the one the reader copies from and
//   the one being decoded ahead of it. Nothing else is buffered.
// - A span holds the blocks decoded whole from its first on; it stops at
//   the first block that fails. A block not in a span (a failed block, a
//   jump elsewhere) is read on the reader's thread through the container,
//   so every read succeeds or fails exactly as it would there.
// - Where no thread can be made, the next span is decoded on the reader's
//   thread: the same work in the same order as reading the container.
#pragma once

#include <atomic>
#include <cstdint>

#include "file/File.h"
#include "payload/HelperThreads.h"

class CLzssFile;

class CReadAheadFile : public CFile {
public:
    static constexpr uint32_t kSpanBytes = 512 * 1024;

    // isOpen is false (and the container is to be read directly) when the
    // spans cannot be allocated or a block does not fit a span.
    CReadAheadFile(CLzssFile* contents, const HelperThreads& threads);
    ~CReadAheadFile() override;

    // Read and Seek as the container's (a short read with a count at the end).
    ErrorCode Read(void* buffer, uint32_t size, uint32_t* bytesRead) override;
    ErrorCode Seek(int32_t offset, int16_t origin) override;
    // Read-only: writing and truncating are refused.
    ErrorCode Write(const void* buffer, uint32_t size, uint32_t* bytesWritten) override;
    ErrorCode Truncate() override;
    uint32_t GetSize() override;
    uint32_t Tell() override;

private:
    struct Span {
        uint8_t* bytes = nullptr;
        uint32_t first = 0;    // block index of bytes[0]
        uint32_t decoded = 0;  // blocks decoded whole from first on
        uint32_t wanted = 0;   // blocks the decode was asked for
    };

    static void DecodeAhead(void* self);
    void Decode(Span* span);
    void StartAhead(uint32_t first);
    void FinishAhead();
    // The block's bytes, from a span or read here; null with *error set.
    const uint8_t* Block(uint32_t index, ErrorCode* error);
    uint32_t BlockLength(uint32_t index) const;

    CLzssFile* contents;
    HelperThreads threads;
    uint32_t size = 0;
    uint32_t blockSize = 0;
    uint32_t blockCount = 0;
    uint32_t spanBlocks = 0;
    uint32_t position = 0;
    Span spans[2];
    Span* ready = &spans[0];   // the reader copies from this one
    Span* ahead = &spans[1];   // being (or been) decoded when aheadBegun
    bool aheadBegun = false;
    void* helper = nullptr;    // the helper thread decoding ahead, if any
    std::atomic<bool> stopAhead{false};  // asks the helper to stop early
};
