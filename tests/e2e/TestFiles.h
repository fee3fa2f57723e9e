// File helpers of the end-to-end tests on the Linux host.
#pragma once

#include <string>

namespace e2e {

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);  // makes the folders

// Host path of a Windows path on drive C, given the drive's host folder.
std::string HostPathOf(const std::string& driveC, const std::string& windowsPath);

// A fresh folder below the system's temporary folder, removed by its destructor.
class TempFolder {
public:
    explicit TempFolder(const std::string& name);
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace e2e
