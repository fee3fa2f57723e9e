// The progress line.
#include "Progress.h"

#ifdef _WIN32
#include <io.h>
#define QP_ISATTY _isatty
#define QP_FILENO _fileno
#else
#include <unistd.h>
#define QP_ISATTY isatty
#define QP_FILENO fileno
#endif

Progress::Progress(uint64_t files, uint64_t bytes, std::FILE* out)
    : out_(out), enabled_(QP_ISATTY(QP_FILENO(out)) != 0), totalFiles_(files), totalBytes_(bytes),
      start_(std::chrono::steady_clock::now()), lastDraw_(start_)
{
}

Progress::~Progress() { Finish(); }

void Progress::Advance(uint64_t files, uint64_t bytes)
{
    files_ += files;
    bytes_ += bytes;
    if (!enabled_)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastDraw_ < std::chrono::milliseconds(250))
        return;
    lastDraw_ = now;
    Draw();
}

void Progress::Draw()
{
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const double rate = seconds > 0 ? static_cast<double>(bytes_) / seconds : 0;
    // The pack's own directory comes on top of the files' bytes.
    const uint64_t remaining = bytes_ < totalBytes_ ? totalBytes_ - bytes_ : 0;
    const double left = rate > 0 ? static_cast<double>(remaining) / rate : 0;
    std::fprintf(out_, "\r%llu/%llu files, %.1f/%.1f MB, %.1f MB/s, %.0f s left   ",
                 static_cast<unsigned long long>(files_), static_cast<unsigned long long>(totalFiles_),
                 static_cast<double>(bytes_ < totalBytes_ ? bytes_ : totalBytes_) / 1e6,
                 static_cast<double>(totalBytes_) / 1e6, rate / 1e6, left);
    std::fflush(out_);
    drawn_ = true;
}

void Progress::Finish()
{
    if (!drawn_)
        return;
    std::fprintf(out_, "\r%70s\r", "");
    std::fflush(out_);
    drawn_ = false;
}
