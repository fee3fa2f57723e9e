// File helpers of the end-to-end tests on the Linux host.
#pragma once

#include <cctype>
#include <cstdint>
#include <string>

#include "TempDir.h"

namespace e2e {

// The support library's whole-file helpers under the names these tests use.
inline std::string ReadFile(const std::string& path) { return ReadText(path); }
inline void WriteFile(const std::string& path, const std::string& content) { WriteText(path, content); }

// The pack stores its names upper-cased, so a new file may arrive as
// MAPS/INTRO.TXT on a case-sensitive host: files compare by lower-case path.
inline std::string Lower(std::string path)
{
    for (char& c : path)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return path;
}

// Exit status as the signed byte the program returned (-1 arrives as 255).
inline int SignedExit(int status) { return status < 256 ? int(int8_t(status)) : status; }

// A relative Windows path with the host's slashes.
inline std::string Slashed(std::string path) {
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

// Host path of a Windows path on drive C, given the drive's host folder.
std::string HostPathOf(const std::string& driveC, const std::string& windowsPath);

}  // namespace e2e
