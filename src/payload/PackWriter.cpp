#include "payload/PackWriter.h"

#include "framework/LittleEndian.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "framework/AsciiText.h"
#include "payload/PackFormat.h"
#include "payload/PatchCrc.h"
#include "pools/DefaultPools.h"

namespace {

constexpr uint32_t kNameSlot = kPackMaxNameLength + 1;

ErrorCode NormaliseName(const char* name, char* out) {
    uint32_t n = 0;
    for (; name[n]; ++n) {
        if (n == kPackMaxNameLength) return ERR_OUTOFRANGE;
        out[n] = name[n] == '/' ? '\\' : char(AsciiUpper(uint8_t(name[n])));
    }
    out[n] = 0;
    if (n == 0 || out[0] == '\\' || out[n - 1] == '\\' || std::strstr(out, "\\\\")) return ERR_BADPARAMS;
    return nullptr;
}

// The pack's header, directory and date table, and where each file goes.
struct PackPlan {
    char* names = nullptr;       // count slots of kNameSlot bytes, normalised
    uint32_t* order = nullptr;   // entry indices in name order
    uint32_t* offsets = nullptr; // each entry's data offset, by entry index
    uint8_t* head = nullptr;     // header, directory, date table
    uint32_t headSize = 0;
    uint32_t totalSize = 0;

    ~PackPlan() {
        g_pDefaultPtrPool->Free(names);
        g_pDefaultPtrPool->Free(order);
        g_pDefaultPtrPool->Free(offsets);
        g_pDefaultPtrPool->Free(head);
    }
    const char* Name(uint32_t k) const { return names + size_t(order[k]) * kNameSlot; }
};

uint32_t Shared(const char* a, const char* b) {
    uint32_t n = 0;
    while (a[n] && a[n] == b[n]) ++n;
    return n;
}

// The files' bytes follow the date table in directory order, except that
// the entry of index last (if any) goes behind all of them.
ErrorCode Plan(const PackWriterEntry* entries, uint32_t count, PackPlan& plan, uint32_t last = UINT32_MAX) {
    if (count == 0 || !entries) return ERR_BADPARAMS;
    if (count > 0xFFFFFFFFu / kNameSlot) return ERR_OUTOFRANGE;
    plan.names = static_cast<char*>(g_pDefaultPtrPool->Alloc(count * kNameSlot));
    plan.order = static_cast<uint32_t*>(g_pDefaultPtrPool->Alloc(count * 4));
    plan.offsets = static_cast<uint32_t*>(g_pDefaultPtrPool->Alloc(count * 4));
    if (!plan.names || !plan.order || !plan.offsets) return ERR_NOTENOUGHMEM;
    for (uint32_t k = 0; k < count; ++k) {
        if (!entries[k].name) return ERR_BADPARAMS;
        if (ErrorCode error = NormaliseName(entries[k].name, plan.names + size_t(k) * kNameSlot)) return error;
        plan.order[k] = k;
    }
    // strcmp orders by unsigned bytes.
    const char* names = plan.names;
    std::sort(plan.order, plan.order + count, [names](uint32_t a, uint32_t b) {
        return std::strcmp(names + size_t(a) * kNameSlot, names + size_t(b) * kNameSlot) < 0;
    });

    uint64_t directorySize = 0, dataSize = 0;
    for (uint32_t k = 0; k < count; ++k) {
        const char* name = plan.Name(k);
        const size_t length = std::strlen(name);
        // Names that begin with this one follow it directly in name order.
        for (uint32_t j = k + 1; j < count && std::strncmp(plan.Name(j), name, length) == 0; ++j) {
            char next = plan.Name(j)[length];
            if (next == 0 || next == '\\') return ERR_ALREADYEXISTS;
        }
        const uint32_t shared = k ? Shared(plan.Name(k - 1), name) : 0;
        directorySize += 2 + (length - shared) + kPackEntryDataSize;
        dataSize += entries[plan.order[k]].size;
    }
    const uint64_t headSize = kPackHeaderSize + directorySize + 4ull * count;
    if (headSize + dataSize > 0xFFFFFFFFu) return ERR_OUTOFRANGE;
    plan.headSize = uint32_t(headSize);
    plan.totalSize = uint32_t(headSize + dataSize);
    uint32_t dataAt = plan.headSize;
    for (uint32_t k = 0; k < count; ++k) {
        if (plan.order[k] == last) continue;
        plan.offsets[plan.order[k]] = dataAt;
        dataAt += entries[plan.order[k]].size;
    }
    if (last < count) plan.offsets[last] = dataAt;

    plan.head = static_cast<uint8_t*>(g_pDefaultPtrPool->Alloc(plan.headSize));
    if (!plan.head) return ERR_NOTENOUGHMEM;
    uint8_t* head = plan.head;
    std::memset(head, 0, kPackHeaderSize);
    std::memcpy(head, kPackMagic, sizeof kPackMagic);
    StoreU32(head + kPackCountOffset, count);
    StoreU32(head + kPackDirectorySizeOffset, uint32_t(directorySize));
    uint8_t* at = head + kPackHeaderSize;
    uint8_t* dates = at + directorySize;
    for (uint32_t k = 0; k < count; ++k) {
        const char* name = plan.Name(k);
        const PackWriterEntry& entry = entries[plan.order[k]];
        const uint32_t length = uint32_t(std::strlen(name));
        const uint32_t shared = k ? Shared(plan.Name(k - 1), name) : 0;
        at[0] = uint8_t(length);
        at[1] = uint8_t(shared);
        std::memcpy(at + 2, name + shared, length - shared);
        at += 2 + length - shared;
        StoreU32(at, plan.offsets[plan.order[k]]);
        StoreU32(at + 4, entry.size);
        at += kPackEntryDataSize;
        StoreU32(dates + 4 * k, entry.dosDateTime);
    }
    return nullptr;
}

}  // namespace

ErrorCode WritePack(const PackWriterEntry* entries, uint32_t count, CFile* target) {
    PackPlan plan;
    if (ErrorCode error = Plan(entries, count, plan)) return error;
    if (ErrorCode error = target->WriteAt(plan.head, 0, plan.headSize, nullptr)) return error;
    for (uint32_t k = 0; k < count; ++k) {
        const PackWriterEntry& entry = entries[k];
        if (entry.size) {
            if (ErrorCode error = target->WriteAt(entry.data, plan.offsets[k], entry.size, nullptr)) return error;
        }
    }
    if (ErrorCode error = target->SeekTo(plan.totalSize)) return error;
    return target->Truncate();
}

namespace {

ErrorCode BuildImage(const PackWriterEntry* entries, uint32_t count, uint32_t last, uint8_t** image,
                     uint32_t* imageSize) {
    *image = nullptr;
    PackPlan plan;
    if (ErrorCode error = Plan(entries, count, plan, last)) return error;
    auto* bytes = static_cast<uint8_t*>(g_pDefaultPtrPool->Alloc(plan.totalSize));
    if (!bytes) return ERR_NOTENOUGHMEM;
    std::memcpy(bytes, plan.head, plan.headSize);
    for (uint32_t k = 0; k < count; ++k)
        if (entries[k].size) std::memcpy(bytes + plan.offsets[k], entries[k].data, entries[k].size);
    *image = bytes;
    *imageSize = plan.totalSize;
    return nullptr;
}

// The entries with the checksum entry behind them (its bytes, data, may be
// null while only its size matters), in a block of the default pool; null
// when the pool has no room. The entry takes the newest entry's time.
PackWriterEntry* WithChecksumEntry(const PackWriterEntry* entries, uint32_t count, const uint8_t* data,
                                   uint32_t entrySize) {
    auto* all = static_cast<PackWriterEntry*>(g_pDefaultPtrPool->Alloc((count + 1) * sizeof(PackWriterEntry)));
    if (!all) return nullptr;
    uint32_t newest = 0;
    for (uint32_t k = 0; k < count; ++k) {
        all[k] = entries[k];
        newest = std::max(newest, entries[k].dosDateTime);
    }
    all[count] = {kPatchCrcName, data, entrySize, newest};
    return all;
}

}  // namespace

ErrorCode BuildPackImage(const PackWriterEntry* entries, uint32_t count, uint8_t** image, uint32_t* imageSize) {
    return BuildImage(entries, count, UINT32_MAX, image, imageSize);
}

ErrorCode BuildCheckedPackImage(const PackWriterEntry* entries, uint32_t count, uint8_t** image,
                                uint32_t* imageSize, uint32_t version) {
    *image = nullptr;
    const uint32_t entrySize = PatchCrcEntrySize(version);
    if (count == 0 || !entries || !entrySize) return ERR_BADPARAMS;
    if (count == UINT32_MAX) return ERR_OUTOFRANGE;
    // A placeholder of the right size: the entry's own bytes are not covered.
    const uint8_t zeros[kPatchCrcStoredEntrySize] = {};
    PackWriterEntry* all = WithChecksumEntry(entries, count, zeros, entrySize);
    if (!all) return ERR_NOTENOUGHMEM;
    ErrorCode error = BuildImage(all, count + 1, count, image, imageSize);
    g_pDefaultPtrPool->Free(all);
    if (error) return error;
    const uint32_t covered = *imageSize - entrySize;
    if (version == kPatchCrcVersion) MakePatchCrcEntry(covered, Crc32(*image, covered), *image + covered);
    return nullptr;
}

ErrorCode PlanCheckedPack(const PackWriterEntry* entries, uint32_t count, uint8_t** head, uint32_t* headSize,
                          uint32_t* offsets, uint32_t* totalSize, uint32_t version) {
    *head = nullptr;
    const uint32_t entrySize = PatchCrcEntrySize(version);
    if (count == 0 || !entries || !offsets || !entrySize) return ERR_BADPARAMS;
    if (count == UINT32_MAX) return ERR_OUTOFRANGE;
    PackWriterEntry* all = WithChecksumEntry(entries, count, nullptr, entrySize);
    if (!all) return ERR_NOTENOUGHMEM;
    PackPlan plan;
    ErrorCode error = Plan(all, count + 1, plan, count);
    g_pDefaultPtrPool->Free(all);
    if (error) return error;
    for (uint32_t k = 0; k < count; ++k) offsets[k] = plan.offsets[k];
    *head = plan.head;
    *headSize = plan.headSize;
    *totalSize = plan.totalSize;
    plan.head = nullptr;  // now the caller's
    return nullptr;
}
