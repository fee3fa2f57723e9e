// CFile: the abstract random-access byte file. Files stack: a file may be
// layered on a base file and own it, so a whole chain goes with its top.
// Positions and sizes are unsigned 32-bit; seek offsets are signed 32-bit,
// so a position past 2 GiB is reached with SeekTo.
//
// Short reads: a read that meets the end of the data delivers fewer bytes
// than asked, and each class says so its own way (callers rely on each):
//   CDiskFile     "EOF", with or without a count; a given count still
//                 receives the bytes that arrived.
//   CLzssFile     with a count: success and the shorter count (0 at the very
//                 end); without one: "EOF".
//   CPackFSFile   with a count: clipped at the entry's end, success, but a
//                 read at or past the end is "EOF" all the same; without one:
//                 "EOF".
//   CHPFile, CHPFSFile  with a count: clipped, success (count 0 at or past
//                 the end); without one: "\"Unknown error\"".
//   CWindowFile   whatever its base answers.
// A caller that needs all the bytes reads through ReadExactly below instead
// of working these out again.
#pragma once

#include <cstdint>

#include "framework/ErrorCode.h"
#include "framework/Object.h"

// Open-mode flags.
constexpr uint16_t FM_READ = 0x01;
constexpr uint16_t FM_WRITE = 0x02;
constexpr uint16_t FM_CREATE = 0x04;
constexpr uint16_t FM_TRUNCATE = 0x08;
constexpr uint16_t FM_SEQUENTIAL = 0x10;
constexpr uint16_t FM_RANDOM = 0x20;
constexpr uint16_t FM_SHARE_READ = 0x40;
constexpr uint16_t FM_SHARE_WRITE = 0x80;

// Seek origins.
constexpr int16_t ORIGIN_BEGIN = 0;
constexpr int16_t ORIGIN_CURRENT = 1;
constexpr int16_t ORIGIN_END = 2;

// Where a seek lands in a file at position whose contents end at size:
// before the start is the start, as for ORIGIN_BEGIN; past 4 GiB is the
// last position. An unknown origin leaves position where it is.
uint32_t ClampedSeekTarget(uint32_t position, uint32_t size, int32_t offset, int16_t origin);

// The one property id any file knows: a disk file's platform handle,
// written through the value pointer as a void*.
constexpr uint32_t PID_NATIVE_HANDLE = 0x10000001;

class CFile : public CObject {
public:
    static const char* const className;  // "CFile"

    explicit CFile(CFile* base = nullptr, bool ownsBase = false);
    ~CFile() override;

    const char* GetClassName() const override;
    CObject* IsKindOf(const char* name) override;

    // Read, Write, Seek, Flush and Truncate fail with "Not implemented yet"
    // in a class that does not provide them; the others work through them.
    virtual ErrorCode Read(void* buffer, uint32_t size, uint32_t* bytesRead);
    virtual ErrorCode ReadAt(void* buffer, uint32_t position, uint32_t size, uint32_t* bytesRead);
    virtual ErrorCode Write(const void* buffer, uint32_t size, uint32_t* bytesWritten);
    virtual ErrorCode WriteAt(const void* buffer, uint32_t position, uint32_t size, uint32_t* bytesWritten);
    virtual ErrorCode Seek(int32_t offset, int16_t origin);
    // Moves to position, anywhere below 4 GiB. Seek keeps its meaning for
    // negative offsets (each class refuses or clips them), so a position
    // past 2 GiB is reached from the start in steps of ORIGIN_CURRENT.
    ErrorCode SeekTo(uint32_t position);
    virtual uint32_t GetSize();
    virtual uint32_t Tell();
    virtual ErrorCode Flush();
    virtual ErrorCode Truncate();
    // Copies length bytes from position source to position destination of this
    // file, overlap-safe, through buffer (chunkSize bytes) or a pool buffer.
    virtual ErrorCode CopyRange(uint32_t destination, uint32_t source, uint32_t length, uint32_t chunkSize,
                                void* buffer);
    virtual ErrorCode LoadRange(uint32_t position, uint32_t size, void** data);
    virtual ErrorCode FreeRange(void* data);
    virtual uint32_t Reserved1();
    virtual uint32_t Reserved2();
    virtual ErrorCode GetProperty(uint32_t id, void* value, uint32_t extra);
    virtual ErrorCode SetProperty(uint32_t id, void* value, uint32_t extra);

    uint16_t mode = 0;       // open-mode flags, 0 when the class does not record them
    bool isOpen = false;     // set by a concrete class once the file is ready
    uint16_t loadCount = 0;  // LoadRange buffers not yet given back
    CFile* base;             // the file this one is layered on, or null
    bool ownsBase;           // destroying this file destroys base too
};

// Reads exactly size bytes at position, whatever the file's short-read rule:
// null when all of them arrived (at once for size 0); the file's own error when the read failed;
// "EOF" when it succeeded with fewer bytes.
ErrorCode ReadExactly(CFile* file, uint32_t position, void* buffer, uint32_t size);
