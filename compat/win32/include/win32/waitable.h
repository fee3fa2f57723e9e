// Kernel objects a thread can wait on (threads, events): WaitForSingleObject
// takes any of them.
#pragma once

#include "win32/handles.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace w32 {

// A signal and its waiters. Shared by the handle and whoever still waits on
// or signals it, so that a handle closed meanwhile frees nothing in use.
struct Signal {
    std::mutex mutex;
    std::condition_variable changed;
    bool signalled = false;
    bool manualReset = true;  // false: a satisfied wait resets it

    void Set() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            signalled = true;
        }
        changed.notify_all();
    }
    // True once signalled, false when the milliseconds (0xFFFFFFFF: none)
    // have passed first.
    bool Wait(unsigned long milliseconds) {
        std::unique_lock<std::mutex> lock(mutex);
        const auto ready = [this] { return signalled; };
        if (milliseconds == 0xFFFFFFFFul)
            changed.wait(lock, ready);
        else if (!changed.wait_for(lock, std::chrono::milliseconds(milliseconds), ready))
            return false;
        if (!manualReset) signalled = false;
        return true;
    }
};

class WaitableObject : public KernelObject {
public:
    explicit WaitableObject(std::shared_ptr<Signal> state) : signal(std::move(state)) {}
    std::shared_ptr<Signal> signal;
};

}  // namespace w32
