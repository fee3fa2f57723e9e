// The global handle table: small numbered handles (record index + 1) over
// blocks of the default handle pool, with lock counts and a free list.
// Records grow in steps of 4096; the table block is freed when empty.
#pragma once

#include <cstdint>

typedef uint32_t TableHandle;

TableHandle HandleAlloc(uint32_t size);  // 0 on failure
int HandleFree(TableHandle handle);      // 1 when a record was released
void* HandleLock(TableHandle handle);    // null on failure
void HandleUnlock(TableHandle handle);

// Inspection for tests: record count, and the table block's byte size.
uint32_t HandleTableCount();
uint32_t HandleTableBytes();

// A record holds two pointer-sized words (pool handle; locked pointer or next
// free index), the lock count, a reserved byte and a reserved 32-bit word:
// 14 bytes on a 32-bit build, 22 on a 64-bit one.
constexpr uint32_t kHandleRecordSize = 2 * sizeof(uintptr_t) + 6;
constexpr uint32_t kHandleRecordStep = 4096;
