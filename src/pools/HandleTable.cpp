#include "pools/HandleTable.h"

#include <cstring>

#include "pools/DefaultPools.h"

// Records are packed into the table block and accessed with memcpy, so the
// layout is exact and needs no alignment:
//   [0, W)      pool handle, 0 marks a free record
//   [W, 2W)     locked pointer in use; next free index (-1 ends) when free
//   [2W]        lock count
//   [2W+1]      reserved byte
//   [2W+2, +4)  reserved word, always 0
// where W is the pointer width.
namespace {

constexpr uint32_t kWord = sizeof(uintptr_t);
constexpr uintptr_t kNoFree = ~uintptr_t(0);

struct Record {
    uintptr_t handle = 0;
    uintptr_t second = 0;  // locked pointer, or next free index
    uint8_t lockCount = 0;
};

PoolHandle s_table = 0;      // block of the default handle pool
uint32_t s_count = 0;        // N
uintptr_t s_freeHead = kNoFree;

Record LoadRecord(const unsigned char* table, uint32_t index) {
    const unsigned char* at = table + uintptr_t(index) * kHandleRecordSize;
    Record r;
    std::memcpy(&r.handle, at, kWord);
    std::memcpy(&r.second, at + kWord, kWord);
    r.lockCount = at[2 * kWord];
    return r;
}

void StoreRecord(unsigned char* table, uint32_t index, const Record& r) {
    unsigned char* at = table + uintptr_t(index) * kHandleRecordSize;
    std::memcpy(at, &r.handle, kWord);
    std::memcpy(at + kWord, &r.second, kWord);
    at[2 * kWord] = r.lockCount;
    at[2 * kWord + 1] = 0;
    std::memset(at + 2 * kWord + 2, 0, 4);
}

unsigned char* LockTable() { return static_cast<unsigned char*>(g_pDefaultHandlePool->Lock(s_table)); }
void UnlockTable() { g_pDefaultHandlePool->Unlock(s_table, 1); }

uint32_t BlockBytes(uint32_t records) {
    return (records / kHandleRecordStep + 1) * kHandleRecordStep * kHandleRecordSize;
}

// Resizes the table block to hold m records; the old block stays on failure.
bool ResizeTable(uint32_t m) {
    if (m == 0) {
        if (s_table) g_pDefaultHandlePool->Free(s_table);
        s_table = 0;
        return true;
    }
    if (s_table && m / kHandleRecordStep == s_count / kHandleRecordStep) return true;
    PoolHandle grown = s_table ? g_pDefaultHandlePool->Realloc(s_table, BlockBytes(m))
                               : g_pDefaultHandlePool->Alloc(BlockBytes(m));
    if (!grown) return false;
    s_table = grown;
    return true;
}

}  // namespace

TableHandle HandleAlloc(uint32_t size) {
    if (size == 0) return 0;
    PoolHandle block = g_pDefaultHandlePool->Alloc(size);
    if (!block) return 0;
    Record record;
    record.handle = block;

    if (s_count > 0 && s_freeHead != kNoFree) {
        unsigned char* table = LockTable();
        if (!table) {
            g_pDefaultHandlePool->Free(block);
            return 0;
        }
        uint32_t index = uint32_t(s_freeHead);
        s_freeHead = LoadRecord(table, index).second;
        StoreRecord(table, index, record);
        UnlockTable();
        return index + 1;
    }

    if (s_count == UINT32_MAX - 1 || !ResizeTable(s_count + 1)) {
        g_pDefaultHandlePool->Free(block);
        return 0;
    }
    unsigned char* table = LockTable();
    if (!table) {
        g_pDefaultHandlePool->Free(block);
        return 0;
    }
    StoreRecord(table, s_count, record);
    UnlockTable();
    return ++s_count;
}

int HandleFree(TableHandle handle) {
    if (handle == 0 || handle > s_count) return 0;
    unsigned char* table = LockTable();
    if (!table) return 0;
    uint32_t index = handle - 1;
    Record record = LoadRecord(table, index);
    if (record.handle == 0) {
        UnlockTable();
        return 0;
    }
    g_pDefaultHandlePool->Free(record.handle);

    if (index + 1 == s_count) {
        // Mark the record free first: should the shrink fail, the record
        // must not keep the block that was just freed.
        StoreRecord(table, index, Record{});
        UnlockTable();
        if (ResizeTable(s_count - 1)) {
            --s_count;
            return 1;
        }
        table = LockTable();
        if (!table) return 1;
    }
    Record freed;
    freed.second = s_freeHead;
    StoreRecord(table, index, freed);
    UnlockTable();
    s_freeHead = index;
    return 1;
}

void* HandleLock(TableHandle handle) {
    if (handle == 0 || handle > s_count) return nullptr;
    unsigned char* table = LockTable();
    if (!table) return nullptr;
    uint32_t index = handle - 1;
    Record record = LoadRecord(table, index);
    // A record past 255 nested locks is refused rather than wrapping its count.
    if (record.handle == 0 || record.lockCount == 0xFF) {
        UnlockTable();
        return nullptr;
    }
    if (record.lockCount == 0) {
        void* pointer = g_pDefaultHandlePool->Lock(record.handle);
        if (!pointer) {
            UnlockTable();
            return nullptr;
        }
        record.second = reinterpret_cast<uintptr_t>(pointer);
    }
    ++record.lockCount;
    StoreRecord(table, index, record);
    UnlockTable();
    return reinterpret_cast<void*>(record.second);
}

void HandleUnlock(TableHandle handle) {
    if (handle == 0 || handle > s_count) return;
    unsigned char* table = LockTable();
    if (!table) return;
    uint32_t index = handle - 1;
    Record record = LoadRecord(table, index);
    // An unlock of a record that is not locked is ignored.
    if (record.handle != 0 && record.lockCount > 0) {
        if (--record.lockCount == 0) g_pDefaultHandlePool->Unlock(record.handle, 1);
        StoreRecord(table, index, record);
    }
    UnlockTable();
}

uint32_t HandleTableCount() { return s_count; }

uint32_t HandleTableBytes() { return s_table ? g_pDefaultHandlePool->Size(s_table) : 0; }
