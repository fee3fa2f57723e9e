// The strings file checks over arbitrary bytes. Oracles: the watched loader
// finds for every key of section "str" the value the patcher's plain loader
// finds, and every finding names a line the file has.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "MemoryFile.h"
#include "StringsCheck.h"
#include "StringsFile.h"
#include "app/HashIni.h"
#include "pools/PtrPool.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 13) return 0;  // strings files are small; keeps the runs many
    const std::vector<uint8_t> bytes(data, data + size);
    uint32_t lines = 1;
    for (size_t i = 0; i < size; ++i)
        if (data[i] == '\n' || (data[i] == '\r' && (i + 1 == size || data[i + 1] != '\n'))) ++lines;

    StringsCheckContext context;
    context.packNames = {"PATCH.INI", "FILES\\ZLN\\ZAVOVUDIZ.EXE"};
    for (const Finding& finding : CheckStrings(bytes, context))
        if (finding.line > lines) __builtin_trap();

    const StringsFile watched(bytes);
    MemoryFile file(bytes);
    CHashIni plain(20, 500, new CSizedPtrPool(), true);
    plain.LoadFile(&file);
    for (const StringsLine& line : watched.Lines()) {
        if (line.number > lines) __builtin_trap();
        const char* value = plain.FindValue("str", line.key.c_str());
        const auto found = watched.Value("str", line.key.c_str());
        if (bool(value) != bool(found) || (value && *found != value)) __builtin_trap();
    }
    return 0;
}
