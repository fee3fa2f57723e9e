// Large files for tests of positions past 2 GiB: a sparse host file, opened
// as the patcher opens files (CreateFileA, a CDiskFile), so that only the
// bytes a test writes take room on disk and no test moves gigabytes.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include "platform/DiskFile.h"
#include "platform/Win32.h"

class SparseDir : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device random;
        do {
            dir = std::filesystem::temp_directory_path() / ("qp-sparse-" + std::to_string(random()));
        } while (!std::filesystem::create_directory(dir));
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }

    // A file of size bytes, all zeros but those written later.
    std::filesystem::path MakeSparse(const std::string& name, uint64_t size) const {
        std::filesystem::path path = dir / name;
        std::ofstream(path, std::ios::binary).close();
        std::filesystem::resize_file(path, size);
        return path;
    }

    // Writes bytes at offset of a host file.
    static void Poke(const std::filesystem::path& path, uint64_t offset, const void* bytes, size_t size) {
        std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(std::streamoff(offset));
        file.write(static_cast<const char*>(bytes), std::streamsize(size));
        ASSERT_TRUE(file.good()) << path << " at " << offset;
    }

    // The file as a CDiskFile for reading and writing (a host path: Windows
    // takes it as it is, the host layer takes a path that starts with '/').
    static std::unique_ptr<CDiskFile> OpenDisk(const std::filesystem::path& path, bool write = true) {
        DWORD access = GENERIC_READ | (write ? GENERIC_WRITE : 0);
        HANDLE handle = CreateFileA(path.string().c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) return nullptr;
        return std::make_unique<CDiskFile>(handle, write ? FM_READ | FM_WRITE : FM_READ);
    }

    std::filesystem::path dir;
};
