#include "payload/ReadAheadFile.h"

#include <cstring>

#include "payload/LzssFile.h"
#include "pools/DefaultPools.h"

CReadAheadFile::CReadAheadFile(CLzssFile* container, const HelperThreads& helperThreads)
    : CFile(container, false), contents(container), threads(helperThreads) {
    if (!contents || !contents->isOpen) return;
    size = contents->GetSize();
    blockSize = contents->BlockSize();
    blockCount = contents->BlockCount();
    if (blockSize == 0 || blockSize > kSpanBytes) return;
    spanBlocks = kSpanBytes / blockSize;
    for (Span& span : spans) {
        span.bytes = static_cast<uint8_t*>(g_pDefaultPtrPool->Alloc(spanBlocks * blockSize));
        if (!span.bytes) return;
    }
    isOpen = true;
}

CReadAheadFile::~CReadAheadFile() {
    stopAhead = true;
    FinishAhead();
    for (Span& span : spans) g_pDefaultPtrPool->Free(span.bytes);
}

uint32_t CReadAheadFile::BlockLength(uint32_t index) const {
    return LzssBlockLength(size, blockSize, index);
}

void CReadAheadFile::DecodeAhead(void* self) {
    auto* file = static_cast<CReadAheadFile*>(self);
    file->Decode(file->ahead);
}

void CReadAheadFile::Decode(Span* span) {
    // A failed block ends the span; the reader reads it again itself, and
    // meets the failure there as the container gives it.
    for (span->decoded = 0; span->decoded < span->wanted && !stopAhead.load(std::memory_order_relaxed);) {
        const uint32_t index = span->first + span->decoded;
        uint8_t* to = span->bytes + size_t(span->decoded) * blockSize;
        if (ReadExactly(contents, index * blockSize, to, BlockLength(index))) return;
        ++span->decoded;
    }
}

void CReadAheadFile::StartAhead(uint32_t first) {
    if (first >= blockCount) return;
    ahead->first = first;
    ahead->wanted = blockCount - first < spanBlocks ? blockCount - first : spanBlocks;
    ahead->decoded = 0;
    aheadBegun = true;
    stopAhead = false;
    helper = threads.start ? threads.start(DecodeAhead, this) : nullptr;
    if (!helper) Decode(ahead);  // no thread: decoded now, in the reader's order
}

void CReadAheadFile::FinishAhead() {
    if (helper) threads.wait(helper);
    helper = nullptr;
}

const uint8_t* CReadAheadFile::Block(uint32_t index, ErrorCode* error) {
    auto holds = [index](const Span* span) {
        return index >= span->first && index - span->first < span->decoded;
    };
    if (!holds(ready) && aheadBegun && index >= ahead->first && index - ahead->first < ahead->wanted) {
        // The reader has caught up with the span ahead: it becomes the one
        // read from, and the next one is begun behind it.
        FinishAhead();
        aheadBegun = false;
        Span* done = ready;
        ready = ahead;
        ahead = done;
        if (holds(ready) && ready->decoded == ready->wanted) StartAhead(ready->first + ready->wanted);
    }
    if (!holds(ready)) {
        // A jump, or a block that failed ahead: read here, as the container
        // reads it, after stopping whatever is decoded ahead.
        stopAhead = true;
        FinishAhead();
        aheadBegun = false;
        stopAhead = false;
        ready->first = index;
        ready->decoded = 0;
        ready->wanted = 1;
        *error = ReadExactly(contents, index * blockSize, ready->bytes, BlockLength(index));
        if (*error) return nullptr;
        ready->decoded = 1;
        StartAhead(index + 1);
    }
    return ready->bytes + size_t(index - ready->first) * blockSize;
}

ErrorCode CReadAheadFile::Read(void* buffer, uint32_t n, uint32_t* got) {
    if (got) *got = 0;
    if (!isOpen) return ERR_READFAIL;
    if (position > size) return ERR_EOF;
    if (uint64_t(position) + n > size) {
        if (!got) return ERR_EOF;
        n = size - position;
    }
    auto* to = static_cast<uint8_t*>(buffer);
    while (n > 0) {
        const uint32_t offset = position % blockSize;
        ErrorCode error = nullptr;
        const uint8_t* block = Block(position / blockSize, &error);
        if (!block) return error;
        const uint32_t chunk = blockSize - offset < n ? blockSize - offset : n;
        std::memcpy(to, block + offset, chunk);
        to += chunk;
        position += chunk;
        n -= chunk;
        if (got) *got += chunk;
    }
    return nullptr;
}

ErrorCode CReadAheadFile::Seek(int32_t offset, int16_t origin) {
    position = ClampedSeekTarget(position, size, offset, origin);
    return nullptr;
}

uint32_t CReadAheadFile::GetSize() { return isOpen ? size : 0; }
uint32_t CReadAheadFile::Tell() { return position; }

ErrorCode CReadAheadFile::Write(const void*, uint32_t, uint32_t* put) {
    if (put) *put = 0;
    return ERR_NOTIMPLEMENTED;
}

ErrorCode CReadAheadFile::Truncate() { return ERR_NOTIMPLEMENTED; }
