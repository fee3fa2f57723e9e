#include "app/HashTable.h"

#include <cstring>

#include "pools/DefaultPools.h"

CHashTable::CHashTable(uint32_t bucketCount, HashFunction hash, CompareFunction compare, DisposeFunction dispose,
                       uint32_t linkOffset, uint32_t keyOffset)
    : bucketCount_(bucketCount),
      hash_(hash),
      compare_(compare),
      dispose_(dispose),
      linkOffset_(linkOffset),
      keyOffset_(keyOffset) {
    buckets_ = nullptr;
    if (bucketCount_ == 0) return;
    buckets_ = static_cast<void**>(g_pDefaultPtrPool->Alloc(bucketCount_ * uint32_t(sizeof(void*))));
    if (buckets_) std::memset(buckets_, 0, bucketCount_ * sizeof(void*));
}

CHashTable::~CHashTable() {
    Clear();
    if (buckets_) g_pDefaultPtrPool->Free(buckets_);
}

void** CHashTable::LinkOf(void* element) const {
    return reinterpret_cast<void**>(static_cast<char*>(element) + linkOffset_);
}

const void* CHashTable::KeyOf(void* element) const { return static_cast<char*>(element) + keyOffset_; }

ErrorCode CHashTable::Insert(void* element) {
    if (!buckets_ || !element) return ERR_UNKNOWN;
    ++hashCount_;
    uint32_t bucket = hash_(KeyOf(element), bucketCount_) % bucketCount_;
    *LinkOf(element) = buckets_[bucket];
    buckets_[bucket] = element;
    ++elementCount_;
    return nullptr;
}

void* CHashTable::Find(const void* key, void*** linkSlot) {
    if (!key || !buckets_) return nullptr;
    ++hashCount_;
    return FindInBucket(key, hash_(key, bucketCount_) % bucketCount_, linkSlot);
}

void* CHashTable::FindInBucket(const void* key, uint32_t bucket, void*** linkSlot) {
    if (!key || !buckets_ || bucket >= bucketCount_) return nullptr;
    void** link = &buckets_[bucket];
    while (*link) {
        ++probeCount_;
        if (compare_(key, KeyOf(*link)) == 0) break;
        link = LinkOf(*link);
    }
    if (linkSlot) *linkSlot = link;
    return *link;
}

ErrorCode CHashTable::Unlink(const void* key, void** element) {
    if (!key || !buckets_) return ERR_UNKNOWN;
    void** link = nullptr;
    void* found = Find(key, &link);
    if (!found) return ERR_NOTFOUND;
    *link = *LinkOf(found);
    *LinkOf(found) = nullptr;
    --elementCount_;
    if (element) *element = found;
    return nullptr;
}

ErrorCode CHashTable::Remove(const void* key) {
    void* element = nullptr;
    ErrorCode error = Unlink(key, &element);
    if (error) return error;
    if (dispose_) dispose_(element, userData);
    return nullptr;
}

ErrorCode CHashTable::Rebase(uintptr_t base) {
    if (!buckets_) return ERR_UNKNOWN;
    for (uint32_t i = 0; i < bucketCount_; ++i) {
        void** link = &buckets_[i];
        while (*link) {
            *link = reinterpret_cast<void*>(base + reinterpret_cast<uintptr_t>(*link));
            link = LinkOf(*link);
        }
    }
    return nullptr;
}

void CHashTable::Clear() {
    if (!buckets_) return;
    if (dispose_) {
        for (uint32_t i = 0; i < bucketCount_; ++i) {
            while (void* element = buckets_[i]) {
                buckets_[i] = *LinkOf(element);
                dispose_(element, userData);
            }
        }
    } else {
        std::memset(buckets_, 0, bucketCount_ * sizeof(void*));
    }
    elementCount_ = 0;
}
