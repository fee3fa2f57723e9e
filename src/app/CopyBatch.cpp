#include "app/CopyBatch.h"

#include <cstring>
#include <utility>

#include "app/AppState.h"
#include "app/GameVolume.h"
#include "app/HelperThread.h"
#include "app/PartialFile.h"
#include "app/RunLog.h"
#include "app/Transaction.h"
#include "app/Update.h"
#include "pools/DefaultPools.h"

namespace {

constexpr uint32_t kBatchFiles = 512;
// Small enough that the flush after the last batch, which nothing overlaps,
// stays short: 8 MB flushed in 8-15 ms where 32 MB took 40-50 ms.
constexpr uint32_t kBatchBytes = 8u << 20;

struct Batch {
    char (*entries)[kPathSize] = nullptr;  // pack paths of the queued files
    uint32_t count = 0;
    uint32_t moved = 0;  // entries before this one are done with
    bool refused = false;  // the entry at moved was refused its move after the flush
    uint64_t bytes = 0;
};

// Two batches take turns: while the volume flush of one, and its moves, run
// on a helper thread, the worker writes the other's temporary files.
Batch g_Batches[2];
Batch* g_Filling = &g_Batches[0];   // temporary files being written
Batch* g_Flushing = &g_Batches[1];  // closed, its volume flush begun (empty: none)
void* g_FlushHelper = nullptr;      // the thread of that flush while it may run
bool g_FlushResult = false;         // that flush's outcome, once it has returned
// Moves made without write-through that no volume flush has covered yet.
bool g_MovesUnflushed = false;

// The flush of a handed-over batch and, once it has succeeded, the moves of
// its files in order, up to the first one refused. Runs on the helper thread
// or in place. It touches only that batch, g_FlushResult and
// g_MovesUnflushed, which the worker reads once it has returned; it
// allocates nothing and shows nothing: a refused file is left, its temporary
// file too, for the worker to report in its turn.
void FlushAndMoveIn(void* handedOver) {
    auto* batch = static_cast<Batch*>(handedOver);
    g_FlushResult = FlushGameVolume();
    if (!g_FlushResult) return;
    g_MovesUnflushed = false;  // the flush began after the moves before it
    while (batch->moved < batch->count) {
        char target[kPathSize];
        char partial[kPartialPathSize];
        if (!TargetPathsOf(batch->entries[batch->moved], target, partial)) return;
        if (!MoveInKeepingOld(partial, target, false)) {
            batch->refused = true;
            return;
        }
        LogPutInPlace(batch->entries[batch->moved], target);
        ++batch->moved;
        g_MovesUnflushed = true;
    }
}

// The outcome of the flush begun last, once it has returned.
bool FinishFlush() {
    if (g_FlushHelper) WaitHelperThread(g_FlushHelper);
    g_FlushHelper = nullptr;
    return g_FlushResult;
}

void Empty(Batch* batch) {
    batch->count = batch->moved = 0;
    batch->refused = false;
    batch->bytes = 0;
}

void Drop(Batch* batch) {
    while (batch->moved < batch->count) {
        char target[kPathSize];
        char partial[kPartialPathSize];
        if (TargetPathsOf(batch->entries[batch->moved++], target, partial)) RemovePartialFile(partial);
    }
    Empty(batch);
}

// Moves in the files of the batch that its flush's job left, once that has
// returned: the one refused there is reported (not tried again), and those
// after it are moved here. A volume that refused the flush is asked file by
// file, so that the file the disk refuses is the one reported, and each move
// is then written through.
void MoveIn(Batch* batch, bool flushed) {
    while (batch->moved < batch->count && !UpdateAborted()) {
        const char* entry = batch->entries[batch->moved++];
        const bool refused = std::exchange(batch->refused, false);
        char target[kPathSize];
        char partial[kPartialPathSize];
        if (!TargetPathsOf(entry, target, partial)) continue;  // queued only when it fitted
        bool done = !refused && (flushed || FlushPartial(partial));
        if (!done) RemovePartialFile(partial);
        done = done && ReplaceKeepingOld(partial, target, !flushed);
        if (done && flushed) g_MovesUnflushed = true;
        if (done)
            LogPutInPlace(entry, target);
        else
            ReportCopyFailure(entry, true);
    }
    Drop(batch);  // after an Abort, the files not moved in
}

// Waits for the pending flush, if any, and moves its batch in.
void SettleFlushing() {
    if (g_Flushing->count == 0) return;
    MoveIn(g_Flushing, FinishFlush());
}

// The filling batch becomes the flushing one and its flush and moves begin:
// on a helper thread when asked and one can be made, else here and now.
void HandOver(bool onHelper) {
    std::swap(g_Filling, g_Flushing);
    g_FlushHelper = onHelper ? StartHelperThread(FlushAndMoveIn, g_Flushing) : nullptr;
    if (!g_FlushHelper) FlushAndMoveIn(g_Flushing);
}

}  // namespace

bool BeginBatches() {
    if (!OpenGameVolume(g_GameFolder)) return false;
    auto* entries = static_cast<char(*)[kPathSize]>(g_pDefaultPtrPool->Alloc(2 * kBatchFiles * kPathSize));
    if (!entries) {
        CloseGameVolume();
        return false;
    }
    g_Batches[0] = Batch{entries, 0, 0, 0};
    g_Batches[1] = Batch{entries + kBatchFiles, 0, 0, 0};
    g_Filling = &g_Batches[0];
    g_Flushing = &g_Batches[1];
    return true;
}

bool Batching() { return g_Batches[0].entries != nullptr; }

void AddToBatch(const char* entryPath, uint32_t size) {
    std::memcpy(g_Filling->entries[g_Filling->count], entryPath, std::strlen(entryPath) + 1);
    ++g_Filling->count;
    g_Filling->bytes += size;
    if (g_Filling->count < kBatchFiles && g_Filling->bytes < kBatchBytes) return;
    // The batch before is done with once its flush and moves have returned;
    // this one's flush then covers those moves too, while the next batch is
    // written.
    SettleFlushing();
    if (UpdateAborted()) return;
    HandOver(true);
    if (!g_FlushHelper) SettleFlushing();  // no thread: one batch at a time
}

void CommitBatch() {
    if (!Batching()) return;
    SettleFlushing();
    if (g_Filling->count == 0 || UpdateAborted()) return;
    HandOver(false);  // waited for at once: no thread needed
    SettleFlushing();
}

void DropBatch() {
    if (!Batching()) return;
    if (g_FlushHelper) FinishFlush();  // the thread is done with the batch
    Drop(g_Flushing);
    Drop(g_Filling);
}

bool LeaveMoveToLastFlush() {
    if (!Batching()) return false;
    g_MovesUnflushed = true;  // no helper runs once the batches are committed
    return true;
}

bool EndBatches() {
    if (!Batching()) return true;
    CommitBatch();
    bool flushed = !g_MovesUnflushed || FlushGameVolume();
    g_MovesUnflushed = false;
    CloseGameVolume();
    g_pDefaultPtrPool->Free(g_Batches[0].entries);
    g_Batches[0] = g_Batches[1] = Batch{};
    return flushed;
}
