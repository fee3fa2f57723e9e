#include "app/MeasureQueue.h"

#include "app/HelperThread.h"
#include "pools/DefaultPools.h"

namespace {

// Enough files that a queue's worth keeps both processors busy past a
// helper's wake-up; each buffer large enough that reads cost little beside
// the hashing.
constexpr unsigned kQueueLength = 32;
constexpr uint32_t kBufferSize = 65536;

}  // namespace

CMeasureQueue::CMeasureQueue(unsigned measureKinds, void (*handBack)(QueuedFile*))
    : measures(measureKinds), done(handBack), slots(&one), buffers{small, nullptr}, capacity(1) {
    auto* queue = static_cast<QueuedFile*>(g_pDefaultPtrPool->Alloc(kQueueLength * sizeof(QueuedFile)));
    auto* mine = static_cast<uint8_t*>(g_pDefaultPtrPool->Alloc(kBufferSize));
    auto* helper = static_cast<uint8_t*>(g_pDefaultPtrPool->Alloc(kBufferSize));
    if (queue && mine && helper) {
        slots = queue;
        capacity = kQueueLength;
        buffers[0] = mine;
        buffers[1] = helper;
        return;
    }
    g_pDefaultPtrPool->Free(queue);
    g_pDefaultPtrPool->Free(mine);
    g_pDefaultPtrPool->Free(helper);
}

CMeasureQueue::~CMeasureQueue() {
    Flush();
    if (slots == &one) return;
    g_pDefaultPtrPool->Free(slots);
    g_pDefaultPtrPool->Free(buffers[0]);
    g_pDefaultPtrPool->Free(buffers[1]);
}

QueuedFile* CMeasureQueue::Slot() {
    QueuedFile* slot = &slots[count];
    slot->file = nullptr;
    slot->opened = 0;
    slot->read = false;
    return slot;
}

void CMeasureQueue::Push() {
    if (++count == capacity) Flush();
}

void CMeasureQueue::MeasureOnHelper(void* self) {
    auto* queue = static_cast<CMeasureQueue*>(self);
    queue->MeasureFrom(queue->buffers[1]);
}

void CMeasureQueue::MeasureFrom(uint8_t* buffer) {
    const uint32_t size = buffer == small ? sizeof small : kBufferSize;
    for (unsigned i; (i = next.fetch_add(1)) < count;) {
        QueuedFile& slot = slots[i];
        slot.read = slot.file && !MeasureContent(slot.file, buffer, size, measures, &slot.content);
    }
}

void CMeasureQueue::Flush() {
    next = 0;
    void* helper = count > 1 && buffers[1] ? StartHelperThread(MeasureOnHelper, this) : nullptr;
    MeasureFrom(buffers[0]);
    if (helper) WaitHelperThread(helper);
    for (unsigned i = 0; i < count; ++i) {
        done(&slots[i]);
        delete slots[i].file;
    }
    count = 0;
}
