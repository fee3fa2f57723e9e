// A fresh directory per test, named the platform's way: on Windows its real
// path, elsewhere the host layer's drive Q: mapped onto it.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "TempDir.h"

class DiskTestDir : public ::testing::Test {
protected:
    void SetUp() override {
#ifdef _WIN32
        root = host.string();
#else
        setenv("W32_DRIVE_Q", host.c_str(), 1);
        root = "Q:";
#endif
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

    TempDir dir{"disk"};
    std::filesystem::path host = dir.Path();
    std::string root;
};
