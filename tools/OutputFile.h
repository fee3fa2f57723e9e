// Writes a whole output file or nothing: the bytes go to a temporary file
// beside the target, which is renamed over the target only when complete.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

// Throws ToolError when the file cannot be written; the target is then
// unchanged and no temporary file is left.
void WriteOutputFile(const std::string& path, const std::vector<uint8_t>& bytes,
                     std::filesystem::perms permissions);

// An output file written piece by piece, with the same all-or-nothing rule:
// the pieces go to a temporary file beside the target, which Commit renames
// over it. Without Commit (a failure on the way) the temporary file is
// removed and the target stays as it was. Every failure throws ToolError.
class OutputStream {
public:
    explicit OutputStream(const std::string& path);
    ~OutputStream();
    OutputStream(const OutputStream&) = delete;
    OutputStream& operator=(const OutputStream&) = delete;

    void WriteAt(uint64_t offset, const void* bytes, size_t size);
    void ReadAt(uint64_t offset, void* bytes, size_t size);
    // Ends the file at size (longer files are cut, shorter ones padded with zeros).
    void Resize(uint64_t size);
    void Commit(std::filesystem::perms permissions);

private:
    std::string path_, temporary_;
    std::fstream file_;
    bool committed_ = false;
};
