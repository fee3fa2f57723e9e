// All-or-nothing output files.
#include "OutputFile.h"

#include "Command.h"

#include <cstdio>
#include <random>

namespace fs = std::filesystem;

void WriteOutputFile(const std::string& path, const std::vector<uint8_t>& bytes, fs::perms permissions)
{
    std::random_device random;
    const std::string temporary = path + ".partial-" + std::to_string(random());
    std::FILE* file = std::fopen(temporary.c_str(), "wbx");
    if (file == nullptr)
        throw ToolError("cannot create " + temporary);
    const bool written = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const bool flushed = std::fflush(file) == 0;
    const bool closed = std::fclose(file) == 0;
    std::error_code error;
    if (written && flushed && closed) {
        fs::permissions(temporary, permissions, error);
        if (!error)
            fs::rename(temporary, path, error);
        if (!error)
            return;
    }
    std::error_code ignored;
    fs::remove(temporary, ignored);
    throw ToolError("cannot write " + path + (error ? ": " + error.message() : std::string()));
}
