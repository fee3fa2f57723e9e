#include "app/MadeFolders.h"

#include <cstdint>
#include <cstring>

#include "platform/Win32.h"
#include "pools/DefaultPools.h"

namespace {

// The paths, each with its NUL, one after the other in the order made: a
// folder comes after its parent.
char* g_Folders = nullptr;
uint32_t g_Used = 0;
uint32_t g_Capacity = 0;

}  // namespace

void NoteMadeFolder(const char* folder) {
    uint32_t length = uint32_t(std::strlen(folder)) + 1;
    if (g_Used + length > g_Capacity) {
        uint32_t capacity = g_Capacity ? g_Capacity * 2 : 4096;
        while (capacity < g_Used + length) capacity *= 2;
        void* grown = g_Folders ? g_pDefaultPtrPool->Realloc(g_Folders, capacity) : g_pDefaultPtrPool->Alloc(capacity);
        if (!grown) return;  // not remembered: at worst an empty folder stays
        g_Folders = static_cast<char*>(grown);
        g_Capacity = capacity;
    }
    std::memcpy(g_Folders + g_Used, folder, length);
    g_Used += length;
}

void RemoveEmptyMadeFolders() {
    // Backwards, so that a folder's subfolders go before it. A folder that
    // holds anything refuses, and stays.
    uint32_t end = g_Used;
    while (end > 0) {
        uint32_t start = end - 1;
        while (start > 0 && g_Folders[start - 1] != '\0') --start;
        RemoveDirectoryA(g_Folders + start);
        end = start;
    }
}

void ForgetMadeFolders() {
    if (g_Folders) g_pDefaultPtrPool->Free(g_Folders);
    g_Folders = nullptr;
    g_Used = g_Capacity = 0;
}
