#include "HarnessFiles.h"

#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <ftw.h>
#include <sstream>
#include <vector>

namespace winebox {

std::string MakeTempDir(const std::string& stem) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/" + stem + ".XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) return std::string();
    return std::string(buffer.data());
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    return bool(out);
}

void RemoveTree(const std::string& path) {
    if (path.empty() || path == "/") return;
    nftw(path.c_str(),
         [](const char* p, const struct stat*, int, struct FTW*) { return std::remove(p); }, 16,
         FTW_DEPTH | FTW_PHYS);
}

}  // namespace winebox
