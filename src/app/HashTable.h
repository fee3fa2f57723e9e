// CHashTable: a chained hash table over records that carry their own chain
// link. The table never allocates records; it only threads them together.
#pragma once

#include <cstdint>

#include "framework/ErrorCode.h"

// (key of an element, bucket count) -> bucket index.
typedef uint32_t (*HashFunction)(const void* key, uint32_t bucketCount);
// (probe key, element key) -> 0 when equal.
typedef int16_t (*CompareFunction)(const void* probe, const void* element);
// Disposes of an element taken out by Remove or Clear.
typedef void (*DisposeFunction)(void* element, void* userData);

class CHashTable {
public:
    // linkOffset: where in an element its chain link (a pointer) lies;
    // keyOffset: added to an element's address to give its key.
    CHashTable(uint32_t bucketCount, HashFunction hash, CompareFunction compare, DisposeFunction dispose,
               uint32_t linkOffset, uint32_t keyOffset);
    CHashTable(const CHashTable&) = delete;
    CHashTable& operator=(const CHashTable&) = delete;
    virtual ~CHashTable();

    virtual ErrorCode Insert(void* element);
    // The first element equal to key, or null. linkSlot, when given,
    // receives the address of the link pointing at it (or of the final null).
    virtual void* Find(const void* key, void*** linkSlot);
    virtual void* FindInBucket(const void* key, uint32_t bucket, void*** linkSlot);
    virtual ErrorCode Unlink(const void* key, void** element);
    virtual ErrorCode Remove(const void* key);
    // Turns bucket heads and links that hold offsets from base into pointers
    // (0 stays the end of a chain).
    virtual ErrorCode Rebase(uintptr_t base);

    // Disposes of every element (or forgets them all without a dispose
    // function); the count becomes 0.
    void Clear();

    uint32_t BucketCount() const { return bucketCount_; }
    uint32_t ElementCount() const { return elementCount_; }

    void* userData = nullptr;  // handed to the dispose function

private:
    void** LinkOf(void* element) const;
    const void* KeyOf(void* element) const;

    void** buckets_;
    uint32_t bucketCount_;
    uint32_t elementCount_ = 0;
    HashFunction hash_;
    CompareFunction compare_;
    DisposeFunction dispose_;
    uint32_t linkOffset_;
    uint32_t keyOffset_;
    uint32_t hashCount_ = 0;   // statistics only
    uint32_t probeCount_ = 0;  // statistics only
};
