// A fresh directory per test, named the platform's way: on Windows its real
// path, elsewhere the host layer's drive Q: mapped onto it.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

class DiskTestDir : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::path base = std::filesystem::temp_directory_path();
        std::random_device random;
        do {
            host = base / ("qp-disk-" + std::to_string(random()));
        } while (!std::filesystem::create_directory(host));
#ifdef _WIN32
        root = host.string();
#else
        setenv("W32_DRIVE_Q", host.c_str(), 1);
        root = "Q:";
#endif
    }

    void TearDown() override {
        // Read-only entries must become writable again before removal.
        std::error_code ignored;
        for (auto& entry : std::filesystem::recursive_directory_iterator(host, ignored))
            std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_write,
                                         std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(host, ignored);
    }

    // The platform path of relative (components separated by '\').
    std::string Path(const std::string& relative) const { return root + "\\" + relative; }

    // The host path of relative, for checking through the standard library.
    std::filesystem::path Host(const std::string& relative) const {
        std::string generic = relative;
        for (char& c : generic)
            if (c == '\\') c = '/';
        return host / generic;
    }

    void WriteHostFile(const std::string& relative, const std::string& bytes) const {
        std::ofstream out(Host(relative), std::ios::binary);
        out << bytes;
    }

    std::string ReadHostFile(const std::string& relative) const {
        std::ifstream in(Host(relative), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    std::filesystem::path host;
    std::string root;
};
