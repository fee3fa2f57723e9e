#include "pools/PtrPool.h"

#include <cstdlib>
#include <cstring>
#include <cstddef>

#include "pools/DefaultPools.h"

static const char kPtrPoolName[] = "CPtrPool";
const char* const CPtrPool::className = kPtrPoolName;

const char* CPtrPool::GetClassName() const { return className; }

CObject* CPtrPool::IsKindOf(const char* name) {
    if (name == className) return this;
    return CObject::IsKindOf(name);
}

CPtrPool::~CPtrPool() = default;

uint32_t CPtrPool::Size(void*) { return 0; }

ErrorCode CPtrPool::LastError() { return lastError; }

ErrorCode CPtrPool::Reserved(uint32_t, uint32_t) { return ERR_NOTIMPLEMENTED; }

// --- CHeapPtrPool ---------------------------------------------------------
// Header in front of each block: the requested size.
namespace {
constexpr size_t kHeapHeader = CHeapPtrPool::kHeaderSize;

unsigned char* HeapBlock(void* pointer) { return static_cast<unsigned char*>(pointer) - kHeapHeader; }

// The block with its header must be representable as a 32-bit size; the
// heap pools report a refusal like exhaustion, by a null result only.
bool HeapSizeFits(uint32_t size) { return size <= UINT32_MAX - kHeapHeader; }
}  // namespace

void* CHeapPtrPool::Alloc(uint32_t size) {
    if (!HeapSizeFits(size)) return nullptr;
    auto* block = static_cast<unsigned char*>(std::malloc(kHeapHeader + size));
    if (!block) return nullptr;
    std::memcpy(block, &size, sizeof size);
    return block + kHeapHeader;
}

void* CHeapPtrPool::Realloc(void* pointer, uint32_t size) {
    if (!pointer) return Alloc(size);
    if (!HeapSizeFits(size)) return nullptr;
    auto* block = static_cast<unsigned char*>(std::realloc(HeapBlock(pointer), kHeapHeader + size));
    if (!block) return nullptr;
    std::memcpy(block, &size, sizeof size);
    return block + kHeapHeader;
}

void CHeapPtrPool::Free(void* pointer) {
    if (pointer) std::free(HeapBlock(pointer));
}

uint32_t CHeapPtrPool::Size(void* pointer) {
    if (!pointer) return 0;
    uint32_t size;
    std::memcpy(&size, HeapBlock(pointer), sizeof size);
    return size;
}

// --- CSizedPtrPool --------------------------------------------------------

void* CSizedPtrPool::Alloc(uint32_t size) {
    if (size == 0) {
        lastError = ERR_ZEROSIZE;
        return nullptr;
    }
    if (size > UINT32_MAX - kPrefixSize) {
        lastError = ERR_NOTENOUGHMEMORY;
        return nullptr;
    }
    auto* block = static_cast<unsigned char*>(g_pDefaultPtrPool->Alloc(size + kPrefixSize));
    if (!block) {
        lastError = ERR_NOTENOUGHMEMORY;
        return nullptr;
    }
    std::memcpy(block, &size, sizeof size);
    lastError = nullptr;
    return block + kPrefixSize;
}

void* CSizedPtrPool::Realloc(void* pointer, uint32_t size) {
    if (size == 0) {
        lastError = ERR_ZEROSIZE;
        return nullptr;
    }
    if (!pointer) {
        lastError = ERR_NULLPOINTER;
        return nullptr;
    }
    if (size > UINT32_MAX - kPrefixSize) {
        lastError = ERR_NOTENOUGHMEMORY;
        return nullptr;
    }
    auto* block = static_cast<unsigned char*>(
        g_pDefaultPtrPool->Realloc(static_cast<unsigned char*>(pointer) - kPrefixSize, size + kPrefixSize));
    if (!block) {
        lastError = ERR_NOTENOUGHMEMORY;
        return nullptr;
    }
    std::memcpy(block, &size, sizeof size);
    lastError = nullptr;
    return block + kPrefixSize;
}

void CSizedPtrPool::Free(void* pointer) {
    if (!pointer) {
        lastError = ERR_NULLPOINTER;
        return;
    }
    lastError = nullptr;
    g_pDefaultPtrPool->Free(static_cast<unsigned char*>(pointer) - kPrefixSize);
}

uint32_t CSizedPtrPool::Size(void* pointer) {
    if (!pointer) {
        lastError = ERR_NULLPOINTER;
        return 0;
    }
    uint32_t size;
    std::memcpy(&size, static_cast<unsigned char*>(pointer) - kPrefixSize, sizeof size);
    return size;
}
