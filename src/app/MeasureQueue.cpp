#include "app/MeasureQueue.h"

#include "app/HelperThread.h"
#include "file/MountTable.h"
#include "payload/Blake3Halves.h"
#include "pools/DefaultPools.h"

namespace {

// Enough files that a batch keeps the helper busy past its wake-up and this
// thread's walk over the next batch; each buffer large enough that reads
// cost little beside the hashing.
constexpr unsigned kBatchLength = 32;
constexpr uint32_t kBufferSize = 65536;
// A file measured on both processors: one whose hashing takes long beside a
// helper's wake-up.
constexpr uint32_t kSplitFrom = 1u << 20;

}  // namespace

CMeasureQueue::CMeasureQueue(unsigned measureKinds, void (*handBack)(QueuedFile*))
    : measures(measureKinds), done(handBack), buffers{small, nullptr}, capacity(1) {
    auto* slots = static_cast<QueuedFile*>(g_pDefaultPtrPool->Alloc(2 * kBatchLength * sizeof(QueuedFile)));
    auto* both = static_cast<uint8_t*>(g_pDefaultPtrPool->Alloc(2 * kBufferSize));
    batches[0].slots = &one[0];
    batches[1].slots = &one[1];
    if (slots && both) {
        batches[0].slots = slots;
        batches[1].slots = slots + kBatchLength;
        capacity = kBatchLength;
        buffers[0] = both;
        buffers[1] = both + kBufferSize;
        return;
    }
    g_pDefaultPtrPool->Free(slots);
    g_pDefaultPtrPool->Free(both);
}

CMeasureQueue::~CMeasureQueue() {
    Flush();
    if (capacity == 1) return;
    g_pDefaultPtrPool->Free(batches[0].slots);
    g_pDefaultPtrPool->Free(buffers[0]);
}

QueuedFile* CMeasureQueue::Slot() {
    QueuedFile* slot = &filling->slots[filling->count];
    slot->file = nullptr;
    slot->opened = 0;
    slot->read = false;
    slot->split = false;
    slot->old[0] = '\0';
    return slot;
}

void CMeasureQueue::Push() {
    if (++filling->count < capacity) return;
    // The batch before is measured by now, or nearly: it is finished, and
    // handed back while the helper measures this one.
    Batch* before = Join();
    StartFilled();
    HandBack(before);
}

void CMeasureQueue::StartFilled() {
    measuring = filling;
    measuring->next = 0;
    filling = filling == &batches[0] ? &batches[1] : &batches[0];
    // The large files are left for Join; a batch of those alone (a lone
    // large file) wakes no helper for the rest.
    unsigned split = 0;
    for (unsigned i = 0; i < measuring->count; ++i) {
        QueuedFile& slot = measuring->slots[i];
        slot.split = measures == kMeasureBlake3 && buffers[1] && slot.file && slot.old[0] &&
                     slot.file->GetSize() >= kSplitFrom;
        split += slot.split;
    }
    helper = buffers[1] && split < measuring->count ? StartHelperThread(MeasureOnHelper, this) : nullptr;
    if (!helper) MeasureFrom(measuring, buffers[0]);
}

void CMeasureQueue::MeasureOnHelper(void* self) {
    auto* queue = static_cast<CMeasureQueue*>(self);
    queue->MeasureFrom(queue->measuring, queue->buffers[1]);
}

void CMeasureQueue::MeasureFrom(Batch* batch, uint8_t* buffer) {
    const uint32_t size = buffer == small ? sizeof small : kBufferSize;
    for (unsigned i; (i = batch->next.fetch_add(1)) < batch->count;) {
        QueuedFile& slot = batch->slots[i];
        if (!slot.split) slot.read = slot.file && !MeasureContent(slot.file, buffer, size, measures, &slot.content);
    }
}

CMeasureQueue::Batch* CMeasureQueue::Join() {
    Batch* batch = measuring;
    if (!batch) return nullptr;
    MeasureFrom(batch, buffers[0]);
    if (helper) WaitHelperThread(helper);
    helper = nullptr;
    measuring = nullptr;
    const HelperThreads threads{StartHelperThread, WaitHelperThread};
    for (unsigned i = 0; i < batch->count; ++i) {
        QueuedFile& slot = batch->slots[i];
        if (!slot.split) continue;
        // Its second half read through a second handle of its own.
        CFile* second = g_FileApi.Open(slot.old, FM_READ | FM_SHARE_READ, nullptr);
        slot.read = second ? !MeasureBlake3Halves(slot.file, second, buffers, kBufferSize, threads, &slot.content)
                           : !MeasureContent(slot.file, buffers[0], kBufferSize, measures, &slot.content);
        delete second;
    }
    return batch;
}

void CMeasureQueue::HandBack(Batch* batch) {
    if (!batch) return;
    for (unsigned i = 0; i < batch->count; ++i) {
        done(&batch->slots[i]);
        delete batch->slots[i].file;
    }
    batch->count = 0;
}

void CMeasureQueue::Flush() {
    HandBack(Join());
    if (filling->count == 0) return;
    StartFilled();
    HandBack(Join());
}
