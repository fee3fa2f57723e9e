// File helpers of the end-to-end tests on the Linux host.
#pragma once

#include <string>

#include "TempDir.h"

namespace e2e {

// The support library's whole-file helpers under the names these tests use.
inline std::string ReadFile(const std::string& path) { return ReadText(path); }
inline void WriteFile(const std::string& path, const std::string& content) { WriteText(path, content); }

// A relative Windows path with the host's slashes.
inline std::string Slashed(std::string path) {
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

// Host path of a Windows path on drive C, given the drive's host folder.
std::string HostPathOf(const std::string& driveC, const std::string& windowsPath);

}  // namespace e2e
