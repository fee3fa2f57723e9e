#include "app/CopyBatch.h"

#include <cstring>

#include "app/AppState.h"
#include "app/GameVolume.h"
#include "app/PartialFile.h"
#include "app/Update.h"
#include "pools/DefaultPools.h"

namespace {

constexpr uint32_t kBatchFiles = 512;
constexpr uint32_t kBatchBytes = 32u << 20;

struct Batch {
    char (*entries)[kPathSize] = nullptr;  // pack paths of the queued files
    uint32_t count = 0;
    uint32_t moved = 0;  // entries before this one are done with
    uint64_t bytes = 0;
};

Batch g_Batch;
// Moves made without write-through that no volume flush has covered yet.
bool g_MovesUnflushed = false;

}  // namespace

bool BeginBatches() {
    if (!OpenGameVolume(g_GameFolder)) return false;
    g_Batch = Batch{};
    g_Batch.entries = static_cast<char(*)[kPathSize]>(g_pDefaultPtrPool->Alloc(kBatchFiles * kPathSize));
    if (!g_Batch.entries) CloseGameVolume();
    return g_Batch.entries != nullptr;
}

bool Batching() { return g_Batch.entries != nullptr; }

void AddToBatch(const char* entryPath, uint32_t size) {
    std::memcpy(g_Batch.entries[g_Batch.count], entryPath, std::strlen(entryPath) + 1);
    ++g_Batch.count;
    g_Batch.bytes += size;
    if (g_Batch.count == kBatchFiles || g_Batch.bytes >= kBatchBytes) CommitBatch();
}

void CommitBatch() {
    if (!Batching() || g_Batch.count == 0) return;
    // A volume that refuses the flush is asked file by file, so that the
    // file the disk refuses is the one reported, and each move is then
    // written through.
    bool flushed = FlushGameVolume();
    if (flushed) g_MovesUnflushed = false;
    while (g_Batch.moved < g_Batch.count) {
        const char* entry = g_Batch.entries[g_Batch.moved++];
        char target[kPathSize];
        char partial[kPartialPathSize];
        if (!TargetPathsOf(entry, target, partial)) continue;  // queued only when it fitted
        bool done = flushed || FlushPartial(partial);
        if (!done) RemovePartialFile(partial);
        done = done && ReplaceWithPartial(partial, target, !flushed);
        if (done && flushed) g_MovesUnflushed = true;
        if (!done) ReportCopyFailure(entry, true);
    }
    g_Batch.count = g_Batch.moved = g_Batch.bytes = 0;
}

void DropBatch() {
    if (!Batching()) return;
    while (g_Batch.moved < g_Batch.count) {
        char target[kPathSize];
        char partial[kPartialPathSize];
        if (TargetPathsOf(g_Batch.entries[g_Batch.moved++], target, partial)) RemovePartialFile(partial);
    }
    g_Batch.count = g_Batch.moved = g_Batch.bytes = 0;
}

bool EndBatches() {
    if (!Batching()) return true;
    CommitBatch();
    bool flushed = !g_MovesUnflushed || FlushGameVolume();
    g_MovesUnflushed = false;
    CloseGameVolume();
    g_pDefaultPtrPool->Free(g_Batch.entries);
    g_Batch = Batch{};
    return flushed;
}
