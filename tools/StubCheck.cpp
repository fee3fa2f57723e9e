// Recognises a patcher stub by its executable header and its marker.
#include "StubCheck.h"

#include "framework/LittleEndian.h"
#include "app/PatcherMarker.h"

#include <algorithm>
#include <cstring>

namespace {

// Why a PE file is no GUI executable, or "".
std::string PeProblem(const std::vector<uint8_t>& bytes)
{
    const char* const broken = "a damaged Windows program (its PE header lies outside the file)";
    if (bytes.size() < 0x40)
        return broken;
    const size_t pe = LoadU32(bytes.data() + 0x3C);
    const size_t optional = pe + 24;
    if (pe > bytes.size() || bytes.size() - pe < 24 + 70)
        return "an MS-DOS program or a damaged Windows program (no PE header)";
    if (std::memcmp(bytes.data() + pe, "PE\0\0", 4) != 0)
        return "an MS-DOS program or a damaged Windows program (no PE header)";
    if (LoadU16(bytes.data() + pe + 22) & 0x2000)
        return "a Windows library (DLL), not a program";
    const uint32_t magic = LoadU16(bytes.data() + optional);
    if (magic != 0x10B && magic != 0x20B)
        return broken;
    const uint32_t subsystem = LoadU16(bytes.data() + optional + 68);
    if (subsystem == 3)
        return "a Windows console program; the patcher is a GUI program";
    if (subsystem != 2)
        return "a Windows program for subsystem " + std::to_string(subsystem) + ", not a GUI program";
    return "";
}

std::string ElfProblem(const std::vector<uint8_t>& bytes)
{
    if (bytes.size() < 18)
        return "a damaged Linux program (its ELF header is cut short)";
    // e_type in the file's own byte order: 2 executable, 3 position-independent executable.
    const uint32_t type = bytes[5] == 2 ? (uint32_t(bytes[16]) << 8 | bytes[17]) : LoadU16(bytes.data() + 16);
    if (type != 2 && type != 3)
        return "a Linux object file or core dump, not a program";
    return "";
}

} // namespace

std::vector<uint8_t> PatcherMarker()
{
    // Read through a volatile so that the compiler cannot fold the marker
    // into this program's own data.
    static volatile unsigned char mask = kPatcherMarkerMask;
    std::vector<uint8_t> marker(kPatcherMarkerSize);
    for (size_t i = 0; i < kPatcherMarkerSize; ++i)
        marker[i] = static_cast<uint8_t>(kPatcherMarkerMasked[i] ^ mask);
    return marker;
}

std::string StubProblem(const std::vector<uint8_t>& bytes)
{
    std::string kind;
    if (bytes.size() >= 2 && bytes[0] == 'M' && bytes[1] == 'Z')
        kind = PeProblem(bytes);
    else if (bytes.size() >= 4 && std::memcmp(bytes.data(), "\x7F" "ELF", 4) == 0)
        kind = ElfProblem(bytes);
    else
        return "it is no program: neither a Windows executable (MZ) nor a Linux one (ELF)";
    if (!kind.empty())
        return "it is " + kind;
    const std::vector<uint8_t> marker = PatcherMarker();
    if (std::search(bytes.begin(), bytes.end(), marker.begin(), marker.end()) == bytes.end())
        return "it is a program, but not the patcher: it lacks the patcher's marker (build quorpatch from "
               "this source tree)";
    return "";
}
