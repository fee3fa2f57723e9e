// Stand-ins for the patcher as a stub: a minimal Linux executable header, a
// pattern of bytes, and the patcher's marker inside.
#pragma once

#include "StubCheck.h"

#include <string>

// size bytes (at least 200) that qptool build takes for a patcher.
inline std::string FakePatcher(size_t size)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(i * 13 + 1);
    bytes.replace(0, 18, std::string("\x7F" "ELF\x02\x01\x01\0\0\0\0\0\0\0\0\0\x02\0", 18));
    const std::vector<uint8_t> marker = PatcherMarker();
    bytes.replace(100, marker.size(), std::string(marker.begin(), marker.end()));
    return bytes;
}
