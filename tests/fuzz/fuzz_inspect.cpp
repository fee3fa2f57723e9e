// qptool's inspection commands over arbitrary files of every kind they take
// (pack, HPFS pack, container, patch executable): verify, then list, run in
// process on the input written to a file. Oracle: no crash, no sanitizer
// report, memory within libFuzzer's limits whatever the headers claim, and
// verify's OK is a claim: list must then succeed too.
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

#include "Command.h"

namespace {

int Run(const char* name, const std::string& path) {
    for (const ToolCommand& command : RegisteredCommands()) {
        if (std::string(command.name) != name) continue;
        try {
            return command.run({path});
        } catch (const ToolError&) {
            return 1;
        }
    }
    __builtin_trap();
}

std::string g_path;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_path = "/tmp/fuzz-inspect-" + std::to_string(getpid()) + ".bin";
    std::freopen("/dev/null", "w", stdout);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* file = std::fopen(g_path.c_str(), "wb");
    if (!file) return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);
    const int verified = Run("verify", g_path);
    const int listed = Run("list", g_path);
    if (verified == 0 && listed != 0) __builtin_trap();
    return 0;
}
