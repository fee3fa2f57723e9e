// All-or-nothing output files.
#include "OutputFile.h"

#include "Command.h"

#include <cstdio>
#include <random>

namespace fs = std::filesystem;

namespace {

std::string TemporaryBeside(const std::string& path)
{
    std::random_device random;
    return path + ".partial-" + std::to_string(random());
}

} // namespace

void WriteOutputFile(const std::string& path, const std::vector<uint8_t>& bytes, fs::perms permissions)
{
    const std::string temporary = TemporaryBeside(path);
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

OutputStream::OutputStream(const std::string& path) : path_(path), temporary_(TemporaryBeside(path))
{
    // Created exclusively, so that an existing file of that name is never reused.
    std::FILE* created = std::fopen(temporary_.c_str(), "wbx");
    if (created == nullptr)
        throw ToolError("cannot create " + temporary_);
    std::fclose(created);
    file_.open(temporary_, std::ios::in | std::ios::out | std::ios::binary);
    if (!file_) {
        std::error_code ignored;
        fs::remove(temporary_, ignored);
        throw ToolError("cannot open " + temporary_);
    }
}

OutputStream::~OutputStream()
{
    if (committed_)
        return;
    file_.close();
    std::error_code ignored;
    fs::remove(temporary_, ignored);
}

void OutputStream::WriteAt(uint64_t offset, const void* bytes, size_t size)
{
    file_.seekp(static_cast<std::streamoff>(offset));
    file_.write(static_cast<const char*>(bytes), static_cast<std::streamsize>(size));
    if (!file_)
        throw ToolError("cannot write " + temporary_);
}

void OutputStream::ReadAt(uint64_t offset, void* bytes, size_t size)
{
    file_.flush();
    file_.seekg(static_cast<std::streamoff>(offset));
    file_.read(static_cast<char*>(bytes), static_cast<std::streamsize>(size));
    if (!file_)
        throw ToolError("cannot read back " + temporary_);
}

void OutputStream::Resize(uint64_t size)
{
    file_.flush();
    std::error_code error;
    fs::resize_file(temporary_, size, error);
    if (!file_ || error)
        throw ToolError("cannot write " + temporary_);
}

void OutputStream::Commit(fs::perms permissions)
{
    file_.flush();
    const bool written = static_cast<bool>(file_);
    file_.close();
    std::error_code error;
    if (written && !file_.fail()) {
        fs::permissions(temporary_, permissions, error);
        if (!error)
            fs::rename(temporary_, path_, error);
        if (!error) {
            committed_ = true;
            return;
        }
    }
    throw ToolError("cannot write " + path_ + (error ? ": " + error.message() : std::string()));
}
