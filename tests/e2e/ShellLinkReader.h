// Reads the strings of a .lnk file (Shell Link binary format): enough to
// check what the patch program's shortcut points to.
#pragma once

#include <optional>
#include <string>

namespace e2e {

struct ShellLinkStrings {
    std::string description;   // NAME_STRING
    std::string relativePath;  // RELATIVE_PATH
    std::string workingDirectory;
    std::string arguments;
    std::string iconLocation;
    int iconIndex = 0;
};

// Null when the file is missing or is no shell link.
std::optional<ShellLinkStrings> ReadShellLink(const std::string& hostPath);

}  // namespace e2e
