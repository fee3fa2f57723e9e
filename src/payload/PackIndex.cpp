#include "payload/PackIndex.h"

#include <cstring>
#include <new>

#include "pools/DefaultPools.h"

namespace {

// Unsigned byte order; a leading part is the smaller.
int CompareNames(const uint8_t* a, uint32_t aLength, const uint8_t* b, uint32_t bLength) {
    uint32_t n = aLength < bLength ? aLength : bLength;
    if (int c = n ? std::memcmp(a, b, n) : 0) return c;
    return aLength < bLength ? -1 : aLength > bLength ? 1 : 0;
}

uint32_t SharedLength(const uint8_t* a, uint32_t aLength, const uint8_t* b, uint32_t bLength) {
    uint32_t n = aLength < bLength ? aLength : bLength, c = 0;
    while (c < n && a[c] == b[c]) ++c;
    return c;
}

// Length of a zero-terminated name, or kTooLong past 255 bytes.
constexpr uint32_t kTooLong = 0xFFFFFFFFu;
uint32_t NameLength(const char* name) {
    uint32_t n = 0;
    while (name[n]) {
        if (++n > 255) return kTooLong;
    }
    return n;
}

}  // namespace

CPackIndex::CPackIndex(uint16_t entryDataSize, TableHandle block, uint32_t used, uint16_t interval)
    : directory(block), usedSize(used), dataSize(entryDataSize), sampleInterval(interval) {}

CPackIndex* CPackIndex::Create(uint16_t dataSize, TableHandle directory, uint32_t usedSize, uint32_t entryCount,
                               uint16_t sampleInterval) {
    auto* index = new (std::nothrow) CPackIndex(dataSize, directory, usedSize, sampleInterval);
    if (!index) {
        HandleFree(directory);
        return nullptr;
    }
    // The count is always that of the sound entries: a header's count may be
    // 0 (count them) or simply wrong.
    (void)entryCount;
    if (directory && usedSize && index->Lock()) {
        index->Validate();
        index->BuildSamples();
        index->Unlock();
    }
    return index;
}

CPackIndex::~CPackIndex() {
    if (samples) {
        if (auto* table = static_cast<Sample*>(HandleLock(samples))) {
            for (uint32_t k = 0; k < sampleCount; ++k) g_pDefaultPtrPool->Free(table[k].name);
            HandleUnlock(samples);
        }
        HandleFree(samples);
    }
    if (ownsDirectory && directory) HandleFree(directory);
}

bool CPackIndex::Lock() {
    if (lockCount == 0) {
        locked = static_cast<const uint8_t*>(HandleLock(directory));
        if (!locked) return false;
        lockedSamples = samples ? static_cast<const Sample*>(HandleLock(samples)) : nullptr;
        if (samples && !lockedSamples) {
            HandleUnlock(directory);
            locked = nullptr;
            return false;
        }
    }
    ++lockCount;
    return true;
}

void CPackIndex::Unlock() {
    if (lockCount == 0 || --lockCount > 0) return;
    if (lockedSamples) HandleUnlock(samples);
    HandleUnlock(directory);
    locked = nullptr;
    lockedSamples = nullptr;
}

uint32_t CPackIndex::Next(uint32_t offset) const {
    return offset + 2 + (locked[offset] - locked[offset + 1]) + dataSize;
}

void CPackIndex::Validate() {
    uint8_t previous[255];
    uint32_t previousLength = 0, offset = 0, count = 0;
    while (offset < usedSize) {
        if (usedSize - offset < 2) break;
        const uint32_t length = locked[offset], shared = locked[offset + 1];
        if (length == 0 || shared > length || shared > previousLength) break;
        const uint32_t stored = length - shared;
        if (usedSize - offset - 2 < uint64_t(stored) + dataSize) break;
        const uint8_t* bytes = locked + offset + 2;
        // Strictly above the previous name, with P its whole shared prefix.
        if (stored == 0) break;
        if (shared < previousLength && bytes[0] <= previous[shared]) break;
        if (std::memchr(bytes, 0, stored)) break;
        std::memcpy(previous + shared, bytes, stored);
        previousLength = length;
        offset += 2 + stored + dataSize;
        ++count;
    }
    usedSize = offset;
    entryCount = count;
}

void CPackIndex::BuildSamples() {
    if (sampleInterval == 0 || entryCount < sampleInterval) return;
    const uint32_t wanted = entryCount / sampleInterval;
    samples = HandleAlloc(wanted * uint32_t(sizeof(Sample)));
    if (!samples) return;
    auto* table = static_cast<Sample*>(HandleLock(samples));
    if (!table) {
        HandleFree(samples);
        samples = 0;
        return;
    }
    // A name that cannot be copied ends the table: lookups start further back.
    char name[kNameBuffer];
    uint32_t offset = 0;
    for (uint32_t ordinal = 0; sampleCount < wanted && offset < usedSize; ++ordinal) {
        const uint32_t length = locked[offset], shared = locked[offset + 1];
        std::memcpy(name + shared, locked + offset + 2, length - shared);
        name[length] = 0;
        if (ordinal % sampleInterval == 0) {
            char* copy = static_cast<char*>(g_pDefaultPtrPool->Alloc(length + 1));
            if (!copy) break;
            std::memcpy(copy, name, length + 1);
            table[sampleCount++] = {offset, copy};
        }
        offset = Next(offset);
    }
    HandleUnlock(samples);
}

// The first entry whose full name is not below the key. m counts the key
// bytes shared with the previous entry's full name, which is below the key:
// an entry with P < m is above the key; one with P > m agrees with the
// previous one where that fell below the key, so it is below too; only an
// entry with P = m needs its stored bytes compared.
CPackIndex::Bound CPackIndex::LowerBound(const uint8_t* key, uint32_t keyLength) const {
    Bound bound = {false, false, false, 0, 0, 0};
    uint32_t offset = 0, m = 0, ordinal = 0;
    if (lockedSamples && sampleCount > 0) {
        // The last sample not above the key.
        uint32_t low = 0, high = sampleCount;
        while (low < high) {
            uint32_t mid = (low + high) / 2;
            const char* name = lockedSamples[mid].name;
            if (CompareNames(reinterpret_cast<const uint8_t*>(name), uint32_t(std::strlen(name)), key, keyLength) <= 0)
                low = mid + 1;
            else
                high = mid;
        }
        if (low > 0) {
            const Sample& start = lockedSamples[low - 1];
            const auto* name = reinterpret_cast<const uint8_t*>(start.name);
            const uint32_t nameLength = uint32_t(std::strlen(start.name));
            m = SharedLength(name, nameLength, key, keyLength);
            ordinal = (low - 1) * sampleInterval;
            if (m == keyLength) {  // the sample is the key itself
                return {true, true, nameLength == keyLength, start.offset, 0, ordinal};
            }
            offset = Next(start.offset);
            ++ordinal;
        }
    }
    for (; offset < usedSize; offset = Next(offset), ++ordinal) {
        const uint32_t shared = locked[offset + 1];
        if (shared > m) continue;
        if (shared < m) return {true, false, false, offset, shared, ordinal};
        const uint32_t stored = locked[offset] - shared;
        const uint8_t* bytes = locked + offset + 2;
        uint32_t c = 0;
        while (c < stored && m + c < keyLength && bytes[c] == key[m + c]) ++c;
        if (m + c == keyLength) return {true, true, c == stored, offset, m, ordinal};
        if (c < stored && key[m + c] < bytes[c]) return {true, false, false, offset, m, ordinal};
        m += c;
    }
    return bound;
}

bool CPackIndex::ExactLookup(const char* name, void* data) {
    const uint32_t length = NameLength(name);
    if (length == kTooLong || entryCount == 0 || !Lock()) return false;
    Bound bound = LowerBound(reinterpret_cast<const uint8_t*>(name), length);
    if (bound.exact && data) {
        const uint32_t stored = locked[bound.offset] - locked[bound.offset + 1];
        std::memcpy(data, locked + bound.offset + 2 + stored, dataSize);
    }
    Unlock();
    return bound.exact;
}

bool CPackIndex::PrefixSearch(const char* prefix, char* fullName, uint32_t* ordinal) {
    const uint32_t length = NameLength(prefix);
    if (length == kTooLong || entryCount == 0 || !Lock()) return false;
    Bound bound = LowerBound(reinterpret_cast<const uint8_t*>(prefix), length);
    if (bound.begins) {
        // The entry's first P bytes equal the prefix's, then its stored bytes.
        const uint32_t entryLength = locked[bound.offset], shared = locked[bound.offset + 1];
        std::memmove(fullName, prefix, shared);
        std::memcpy(fullName + shared, locked + bound.offset + 2, entryLength - shared);
        fullName[entryLength] = 0;
        if (ordinal) *ordinal = bound.ordinal;
    }
    Unlock();
    return bound.begins;
}

bool CPackIndex::Successor(const char* name, char* fullName) {
    if (entryCount == 0 || !Lock()) return false;
    uint32_t offset = 0;
    bool found = true;
    if (name) {
        const uint32_t length = NameLength(name);
        Bound bound = length == kTooLong ? Bound{} : LowerBound(reinterpret_cast<const uint8_t*>(name), length);
        found = bound.exact;
        if (found) offset = Next(bound.offset);
        found = found && offset < usedSize;
    }
    if (found) {
        // The following entry's P bytes come from the given name.
        const uint32_t entryLength = locked[offset], shared = locked[offset + 1];
        if (name) std::memmove(fullName, name, shared);
        std::memcpy(fullName + shared, locked + offset + 2, entryLength - shared);
        fullName[entryLength] = 0;
    }
    Unlock();
    return found;
}
