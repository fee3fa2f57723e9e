// CHashIni over arbitrary bytes: load them as a strings file, then look up
// every key the table holds. Oracle: each entry of the last section of its
// name is found, with the value of the last entry of that key there; every
// text is terminated and no line passes 1023 characters.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "MemoryFile.h"
#include "app/HashIni.h"
#include "framework/AsciiText.h"
#include "pools/PtrPool.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MemoryFile file(std::vector<uint8_t>(data, data + size));
    CHashIni table(20, 500, new CSizedPtrPool(), true);
    if (table.LoadFile(&file)) return 0;
    for (const IniSection* section = table.FirstSection(); section; section = section->next) {
        bool lastOfItsName = true;
        for (const IniSection* later = section->next; later; later = later->next)
            if (CompareNoCase(later->name, section->name) == 0) lastOfItsName = false;
        for (const IniEntry* entry = section->firstEntry; entry; entry = entry->next) {
            if (std::strlen(entry->name) + std::strlen(EntryValue(entry)) + std::strlen(EntryComment(entry)) > 1023)
                __builtin_trap();
            if (!entry->name[0]) continue;  // a comment line: in no index
            const char* found = table.FindValue(section->name, entry->name);
            if (!lastOfItsName) continue;
            const IniEntry* expected = entry;
            for (const IniEntry* later = entry->next; later; later = later->next)
                if (later->name[0] && CompareNoCase(later->name, entry->name) == 0) expected = later;
            if (!found || std::strcmp(found, EntryValue(expected)) != 0) __builtin_trap();
            char small[8];
            if (table.GetString(section->name, entry->name, small, sizeof small) || small[sizeof small - 1] != '\0')
                __builtin_trap();
        }
    }
    return 0;
}
