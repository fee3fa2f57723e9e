#include "TestFiles.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace e2e {

namespace fs = std::filesystem;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& content) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string HostPathOf(const std::string& driveC, const std::string& windowsPath) {
    std::string rest = windowsPath;
    if (rest.size() >= 2 && (rest[0] == 'C' || rest[0] == 'c') && rest[1] == ':') rest = rest.substr(2);
    for (char& c : rest)
        if (c == '\\') c = '/';
    while (!rest.empty() && rest[0] == '/') rest.erase(0, 1);
    return (fs::path(driveC) / rest).string();
}

TempFolder::TempFolder(const std::string& name) {
    std::string pattern = (fs::temp_directory_path() / ("qp-" + name + "-XXXXXX")).string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

}  // namespace e2e
