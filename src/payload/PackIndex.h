// The directory index of a pack file: its sorted, front-coded directory held
// in one movable block of the global handle table and searched as stored.
//
// Entry at offset o, with D bytes of entry data:
//   o        1      L: length of the full name (1..255)
//   o + 1    1      P: leading bytes shared with the previous entry's full name
//   o + 2    L - P  the name from position P on
//   o+2+L-P  D      entry data
// Full names are in strictly ascending order of their unsigned bytes.
//
// A directory made by others is checked once at creation: the index ends
// before the first entry that runs past the used size, has L = 0, P > L, a
// P larger than the previous name or not its full shared prefix, a zero byte
// in its name, or a name not above the previous one. Lookups then trust it.
#pragma once

#include <cstdint>

#include "pools/HandleTable.h"

class CPackIndex {
public:
    static constexpr uint32_t kNameBuffer = 256;  // a full name and its terminating zero

    // Creates an index over directory (a handle-table block of usedSize
    // bytes), which it owns from then on, also when creation fails. An
    // entryCount of 0 means count them. Samples every sampleInterval-th entry
    // when there are at least that many (none for 0). Null when the object
    // cannot be allocated.
    static CPackIndex* Create(uint16_t dataSize, TableHandle directory, uint32_t usedSize, uint32_t entryCount,
                              uint16_t sampleInterval);
    ~CPackIndex();

    // Each takes a zero-terminated name; one longer than 255 bytes is absent.
    // Copies the dataSize bytes of the entry named exactly name.
    bool ExactLookup(const char* name, void* data);
    // The first entry in name order that begins with prefix: its full name
    // (kNameBuffer bytes) and ordinal.
    bool PrefixSearch(const char* prefix, char* fullName, uint32_t* ordinal);
    // The full name of the entry after the one named name, or of the first
    // entry when name is null.
    bool Successor(const char* name, char* fullName);

    uint32_t EntryCount() const { return entryCount; }
    uint32_t SampleCount() const { return sampleCount; }

private:
    struct Sample {
        uint32_t offset;  // of the sampled entry in the directory
        char* name;       // its full name, zero-terminated, from g_pDefaultPtrPool
    };
    struct Bound {
        bool found;       // an entry not below the key exists
        bool begins;      // it begins with the key
        bool exact;       // it equals the key
        uint32_t offset;  // its offset in the directory
        uint32_t shared;  // leading key bytes known equal before its stored bytes
        uint32_t ordinal;
    };

    CPackIndex(uint16_t dataSize, TableHandle directory, uint32_t usedSize, uint16_t sampleInterval);
    bool Lock();
    void Unlock();
    void Validate();
    void BuildSamples();
    Bound LowerBound(const uint8_t* key, uint32_t keyLength) const;
    uint32_t Next(uint32_t offset) const;

    TableHandle directory;
    uint32_t entryCount = 0;
    uint32_t usedSize;
    uint16_t dataSize;
    bool ownsDirectory = true;
    TableHandle samples = 0;
    uint16_t sampleInterval;
    uint32_t sampleCount = 0;
    const uint8_t* locked = nullptr;
    const Sample* lockedSamples = nullptr;
    uint32_t lockCount = 0;
};
