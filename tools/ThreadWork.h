// Work shared by several threads of the tool.
#pragma once

#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "payload/HelperThreads.h"

// Runs work on threads threads (this one among them) and returns when all
// have ended. The first exception any of them threw (out of memory on a
// large file, say) is rethrown here, so that it reaches the command's
// report instead of ending the process.
inline void RunOnThreads(unsigned threads, const std::function<void()>& work) {
    std::mutex mutex;
    std::exception_ptr first;
    auto guarded = [&] {
        try {
            work();
        } catch (...) {
            std::lock_guard<std::mutex> lock(mutex);
            if (!first) first = std::current_exception();
        }
    };
    std::vector<std::thread> workers;
    try {
        for (unsigned t = 1; t < threads; ++t) workers.emplace_back(guarded);
    } catch (...) {
        // A thread that cannot be made: those made and this one do the work.
    }
    guarded();
    for (std::thread& w : workers) w.join();
    if (first) std::rethrow_exception(first);
}

// The library's helper threads (a rebuild's second segment decoder), as
// plain threads started and joined.
inline HelperThreads ToolThreads() {
    return {[](void (*work)(void*), void* argument) -> void* { return new std::thread(work, argument); },
            [](void* started) {
                auto* thread = static_cast<std::thread*>(started);
                thread->join();
                delete thread;
            }};
}
