// CPackFS over arbitrary bytes: attach, list the whole tree, open and read
// every entry listed.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "MemoryFile.h"
#include "payload/PackFS.h"

namespace {

int s_budget;

void Walk(CPackFS& fs, const std::string& directory, int depth) {
    if (depth > 128) __builtin_trap();  // a 255-byte name has at most 127 backslashes
    FindRecord record = {};
    ErrorCode error = fs.FindFirst(&record, directory.c_str());
    while (!error && --s_budget > 0) {
        std::string path = directory.empty() ? record.name : directory + "\\" + record.name;
        if (record.attributes & FA_DIRECTORY) {
            // A damaged name can hold an empty component: listing it again
            // would be the same directory.
            if (record.name[0]) Walk(fs, path, depth + 1);
        } else if (CFile* file = fs.Open(path.c_str(), FM_READ, nullptr)) {
            uint8_t chunk[4096];
            uint32_t got = 0;
            for (int reads = 0; reads < 64 && !file->Read(chunk, sizeof chunk, &got); ++reads) {
                if (got > sizeof chunk) __builtin_trap();
            }
            delete file;
        }
        fs.Exists(path.c_str());
        error = fs.FindNext(&record);
    }
    fs.FindClose(&record);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CPackFS fs;
    fs.Attach(new MemoryFile(std::vector<uint8_t>(data, data + size)));
    s_budget = 10000;
    Walk(fs, "", 0);
    return 0;
}
