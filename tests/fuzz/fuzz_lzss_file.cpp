// CWritableLzssFile over arbitrary bytes: open, then reads and seeks chosen by the
// input's last bytes, then (for an opened file) a few writes, a resize and a
// flush, checked against the bytes read before.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "MemoryFile.h"
#include "payload/LzssWritableFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MemoryFile base(std::vector<uint8_t>(data, data + size));
    CWritableLzssFile file(&base, false);
    if (!file.isOpen) return 0;
    const uint32_t total = file.GetSize();
    // Reads: the first 64 KiB sequentially, then a few jumps.
    std::vector<uint8_t> buffer(65536);
    uint32_t got = 0;
    if (!file.Read(buffer.data(), uint32_t(buffer.size()), &got) && got != (total < 65536 ? total : 65536))
        __builtin_trap();
    for (size_t i = 0; i + 4 <= size && i < 64; i += 4) {
        uint32_t at;
        std::memcpy(&at, data + size - 4 - i, 4);
        file.Seek(int32_t(at % (total + 100)), ORIGIN_BEGIN);
        file.Read(buffer.data(), 4096, &got);
        if (got > 4096) __builtin_trap();
    }
    // Writes over a readable prefix must read back.
    if (total < 200000) {
        std::vector<uint8_t> contents(total);
        if (!file.ReadAt(contents.data(), 0, total, &got) && got == total) {
            const uint8_t pattern[7] = {1, 2, 3, 4, 5, 6, 7};
            uint32_t at = total / 2;
            if (!file.WriteAt(pattern, at, 7, nullptr)) {
                if (contents.size() < at + 7) contents.resize(at + 7);
                std::memcpy(contents.data() + at, pattern, 7);
                if (!file.Flush()) {
                    std::vector<uint8_t> back(contents.size());
                    CLzssFile reopened(&base, false);
                    if (!reopened.isOpen) __builtin_trap();
                    if (!reopened.ReadAt(back.data(), 0, uint32_t(back.size()), &got) && back != contents)
                        __builtin_trap();
                }
            }
        }
    }
    return 0;
}
