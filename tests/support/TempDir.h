// A fresh folder below the system's temporary folder, removed with all it
// holds when the object ends (read-only entries included), and the tests'
// plain whole-file reads and writes. Portable: the Windows builds use it too.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

class TempDir {
public:
    // The folder is named "qp-<stem>-<random number>".
    explicit TempDir(const std::string& stem = "test")
    {
        const std::filesystem::path base = std::filesystem::temp_directory_path();
        std::random_device random;
        for (int attempt = 0; path_.empty(); ++attempt) {
            if (attempt == 100)
                throw std::runtime_error("cannot make a temporary folder in " + base.string());
            const std::filesystem::path candidate = base / ("qp-" + stem + "-" + std::to_string(random()));
            std::error_code error;
            if (std::filesystem::create_directory(candidate, error))
                path_ = candidate.string();
        }
    }
    ~TempDir()
    {
        if (!kept_)
            RemoveAll(path_);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder, or a path below it ("a/b" with '/').
    std::string Path(const std::string& relative = "") const
    {
        return relative.empty() ? path_ : path_ + "/" + relative;
    }

    // Leaves the folder in place when the object ends, for a look after the run.
    void Keep() { kept_ = true; }

    // Removes a tree whose entries a test may have made read-only.
    static void RemoveAll(const std::filesystem::path& root)
    {
        std::error_code ignored;
        for (auto& entry : std::filesystem::recursive_directory_iterator(root, ignored))
            std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_write,
                                         std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(root, ignored);
    }

private:
    std::string path_;
    bool kept_ = false;
};

// The whole file; empty when it cannot be read.
inline std::string ReadText(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline std::vector<uint8_t> ReadBytes(const std::filesystem::path& path)
{
    const std::string text = ReadText(path);
    return std::vector<uint8_t>(text.begin(), text.end());
}

// Writes the whole file, making its folders; throws when it cannot.
inline void WriteText(const std::filesystem::path& path, const std::string& bytes)
{
    if (!path.parent_path().empty())
        std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

inline void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes)
{
    WriteText(path, std::string(bytes.begin(), bytes.end()));
}
