// Installed files measured on both processors for the check before the
// first change. A file is queued as the walk meets it (opened on this
// thread); a full queue is measured at once, this thread and a helper
// thread each taking the next file not yet taken, and the files are handed
// back in the order they were queued, so that what the check reports does
// not depend on which thread read what. One SHA-256 stream runs on one
// processor only: the files, not the blocks, are shared out.
//
// Invariants:
// - A queued file (its CFile and its slot) is touched by one thread at a
//   time: the thread that took its index from `next`, until the helper has
//   been waited for; the wait is the hand-over back to this thread.
// - Each thread reads through its own buffer.
// - Where no thread can be had, or a queue holds one file, every file is
//   measured here: the same measures, in queue order.
#pragma once

#include <atomic>

#include "app/AppState.h"
#include "payload/DeltaContent.h"

struct QueuedFile {
    char folder[kPathSize];  // the caller's names for it
    char target[kPathSize];
    CFile* file;             // read by the queue; closed after done, unless done closed it (null)
    int opened;              // the caller's word on a file not opened
    bool read;               // measured whole
    DeltaContent content;
};

class CMeasureQueue {
public:
    // done(file) gets every queued file, measured, in queue order.
    CMeasureQueue(unsigned measures, void (*done)(QueuedFile* file));
    ~CMeasureQueue();  // flushes

    // The slot to fill next; Push() queues it. Never null.
    QueuedFile* Slot();
    void Push();
    // Measures what is queued and hands it back.
    void Flush();

private:
    static void MeasureOnHelper(void* self);
    void MeasureFrom(uint8_t* buffer);

    unsigned measures;
    void (*done)(QueuedFile*);
    QueuedFile* slots;     // capacity of them
    uint8_t* buffers[2];   // this thread's, the helper's
    unsigned capacity;
    unsigned count = 0;
    std::atomic<unsigned> next{0};
    QueuedFile one;        // the queue when no memory could be had
    uint8_t small[4096];
};
