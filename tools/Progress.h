// A progress line for long builds: files and bytes done, speed and time
// left, redrawn in place on a terminal at most four times a second. Off when
// standard error is not a terminal (logs and pipes get no progress lines).
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>

class Progress {
public:
    Progress(uint64_t files, uint64_t bytes, std::FILE* out = stderr);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // Adds to what is done and redraws when it is time.
    void Advance(uint64_t files, uint64_t bytes);
    // Clears the line.
    void Finish();

private:
    void Draw();

    std::FILE* out_;
    bool enabled_;
    uint64_t totalFiles_, totalBytes_, files_ = 0, bytes_ = 0;
    std::chrono::steady_clock::time_point start_, lastDraw_;
    bool drawn_ = false;
};
