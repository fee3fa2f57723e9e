#include "payload/PayloadScan.h"

#include <cstring>

#include "framework/LittleEndian.h"
#include "payload/LzssFormat.h"
#include "pools/DefaultPools.h"

bool IsPayloadHeaderAt(const uint8_t* p) {
    return std::memcmp(p, kLzssMagic, 4) == 0 && LoadU32(p + 8) == kPayloadBlockSize;
}

uint64_t PayloadScanLimit(uint64_t fileSize) {
    const uint64_t rounded = fileSize / kScanStep * kScanStep;
    return rounded > kScanStep ? rounded - kScanStep : 0;
}

size_t FindPayloadHeader(const uint8_t* bytes, size_t size, size_t limit) {
    for (size_t start = 0; start < limit && start + kScanHeaderBytes <= size; ++start)
        if (IsPayloadHeaderAt(bytes + start)) return start;
    return size_t(-1);
}

bool FindPayloadOffset(CFile* file, uint32_t* offset) {
    const uint64_t limit = PayloadScanLimit(file->GetSize());
    if (limit == 0) return false;
    auto* block = static_cast<uint8_t*>(g_pDefaultPtrPool->Alloc(kScanStep + kScanOverlap));
    if (!block) return false;
    bool found = false;
    for (uint64_t position = 0; position < limit && !found; position += kScanStep) {
        // Each of the step's starts needs its header bytes inside what was
        // read: a short read (the file's last step) tries fewer starts.
        uint32_t count = 0;
        if (file->SeekTo(uint32_t(position))) continue;
        file->Read(block, kScanStep + kScanOverlap, &count);
        if (count > kScanStep + kScanOverlap) count = 0;
        const size_t start = FindPayloadHeader(block, count, kScanStep);
        if (start != size_t(-1)) {
            *offset = uint32_t(position + start);
            found = true;
        }
    }
    g_pDefaultPtrPool->Free(block);
    return found;
}
