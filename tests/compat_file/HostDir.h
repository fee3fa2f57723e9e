// A fresh host directory per test, mapped as drive R:.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "TempDir.h"
#include "windows.h"
#include "win32/hostio.h"

extern char** environ;

class HostDir : public ::testing::Test {
protected:
    void SetUp() override { setenv("W32_DRIVE_R", host.c_str(), 1); }

    void TearDown() override {
        w32::CurrentHostIo() = w32::DefaultHostIo();
        UnsetFaults();
        w32::ReloadEnvironmentFaults();
    }

    // Every W32_FAULT_* variable a test may have set, those of later faults too.
    static void UnsetFaults() {
        std::vector<std::string> names;
        for (char** entry = environ; *entry != nullptr; ++entry)
            if (std::strncmp(*entry, "W32_FAULT_", 10) == 0)
                names.emplace_back(*entry, std::strcspn(*entry, "="));
        for (const std::string& name : names)
            unsetenv(name.c_str());
    }

    void Put(const std::string& relative, const std::string& bytes = "") const {
        std::filesystem::create_directories((host / relative).parent_path());
        std::ofstream(host / relative, std::ios::binary) << bytes;
    }

    std::string Get(const std::string& relative) const {
        std::ifstream in(host / relative, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    // Names directly in host directory relative, as the host spells them.
    std::vector<std::string> HostNames(const std::string& relative) const {
        std::vector<std::string> names;
        for (auto& entry : std::filesystem::directory_iterator(host / relative))
            names.push_back(entry.path().filename().string());
        return names;
    }

    static HANDLE Open(const std::string& path, DWORD access, DWORD share, DWORD disposition) {
        return CreateFileA(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    }

    // The bytes of the file the path opens for reading (up to 64), or
    // "<no file>" when it opens none.
    static std::string Contents(const std::string& path) {
        HANDLE file = Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
        if (file == INVALID_HANDLE_VALUE) return "<no file>";
        char buffer[64];
        DWORD count = 0;
        ReadFile(file, buffer, sizeof(buffer), &count, nullptr);
        CloseHandle(file);
        return std::string(buffer, count);
    }

    // The last error CreateFileA leaves (a handle it returns is closed again).
    static DWORD OpenError(const std::string& path, DWORD access, DWORD share, DWORD disposition) {
        SetLastError(0xDEAD);
        HANDLE handle = Open(path, access, share, disposition);
        DWORD error = GetLastError();
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
        return error;
    }

    TempDir dir{"w32"};
    std::filesystem::path host = dir.Path();
};
