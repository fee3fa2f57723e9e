// Installed files measured on both processors for the check before the
// first change. A file is queued as the walk meets it (opened on this
// thread). Each full batch of the queue is handed to a helper thread, which
// measures it while this thread walks on and fills the next batch; a thread
// with nothing else to do takes the next file not yet taken of the batch
// being measured. A large file measured for its BLAKE3 alone is passed over
// there and measured once the helper is back, on both processors at once:
// its halves read through two handles and hashed apart (Blake3Halves.h). The
// files are handed back batch by batch in the order they were queued, so
// that what the check reports does not depend on which thread read what.
// (A SHA-256 stream runs on one processor only: for those, the files, not
// their blocks, are shared out.)
//
// Invariants:
// - A queued file (its CFile and its slot) is touched by one thread at a
//   time: the thread that took its index from its batch's `next`, until the
//   helper has been waited for; the wait is the hand-over back to this
//   thread. The batch being filled is this thread's alone.
// - A large file's slot is marked `split` by this thread before its batch
//   is handed to the helper, which passes it over. It is measured after the
//   wait: this thread reads it, and the helper a second handle to it that
//   this thread opens (by `old`) and closes.
// - Each thread reads through its own buffer.
// - Where no thread can be had, a full batch is measured here at once: the
//   same measures, in queue order.
#pragma once

#include <atomic>

#include "app/AppState.h"
#include "payload/DeltaContent.h"

struct QueuedFile {
    char folder[kPathSize];  // the caller's names for it
    char target[kPathSize];
    char old[kPathSize];     // the file opened: the target or a source at another path (or empty)
    CFile* file;             // read by the queue; closed after done, unless done closed it (null)
    int opened;              // the caller's word on a file not opened
    bool read;               // measured whole
    bool split;              // measured on both processors, after the rest of its batch
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
    struct Batch {
        QueuedFile* slots = nullptr;
        unsigned count = 0;
        std::atomic<unsigned> next{0};
    };

    static void MeasureOnHelper(void* self);
    void MeasureFrom(Batch* batch, uint8_t* buffer);
    // Starts measuring the batch being filled; the other is filled next.
    void StartFilled();
    // Measures the rest of the batch being measured, with the helper, then
    // its split files on both processors; that batch (null: none), to be
    // handed back.
    Batch* Join();
    void HandBack(Batch* batch);

    unsigned measures;
    void (*done)(QueuedFile*);
    Batch batches[2];
    Batch* filling = &batches[0];
    Batch* measuring = nullptr;  // handed to the helper, not yet back
    void* helper = nullptr;
    uint8_t* buffers[2];         // this thread's, the helper's: one allocation
    unsigned capacity;           // files a batch holds
    QueuedFile one[2];           // the batches when no memory could be had
    uint8_t small[4096];
};
