#include "TestFiles.h"

#include <filesystem>

namespace e2e {

namespace fs = std::filesystem;

std::string HostPathOf(const std::string& driveC, const std::string& windowsPath) {
    std::string rest = windowsPath;
    if (rest.size() >= 2 && (rest[0] == 'C' || rest[0] == 'c') && rest[1] == ':') rest = rest.substr(2);
    for (char& c : rest)
        if (c == '\\') c = '/';
    while (!rest.empty() && rest[0] == '/') rest.erase(0, 1);
    return (fs::path(driveC) / rest).string();
}

}  // namespace e2e
