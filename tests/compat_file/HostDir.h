// A fresh host directory per test, mapped as drive R:.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "windows.h"
#include "win32/hostio.h"

class HostDir : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device random;
        do {
            host = std::filesystem::temp_directory_path() / ("qp-w32-" + std::to_string(random()));
        } while (!std::filesystem::create_directory(host));
        setenv("W32_DRIVE_R", host.c_str(), 1);
    }

    void TearDown() override {
        w32::CurrentHostIo() = w32::DefaultHostIo();
        for (const char* fault : {"W32_FAULT_WRITE", "W32_FAULT_OPEN", "W32_FAULT_KILL", "W32_FAULT_MOVE",
                                  "W32_FAULT_FLUSH", "W32_FAULT_THREAD", "W32_FAULT_DIALOG", "W32_FAULT_MUTEX",
                                  "W32_FAULT_REGISTRY"})
            unsetenv(fault);
        w32::ReloadEnvironmentFaults();
        std::error_code ignored;
        for (auto& entry : std::filesystem::recursive_directory_iterator(host, ignored))
            std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_write,
                                         std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(host, ignored);
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

    // The last error CreateFileA leaves (a handle it returns is closed again).
    static DWORD OpenError(const std::string& path, DWORD access, DWORD share, DWORD disposition) {
        SetLastError(0xDEAD);
        HANDLE handle = Open(path, access, share, disposition);
        DWORD error = GetLastError();
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
        return error;
    }

    std::filesystem::path host;
};
