#include "payload/PatchNames.h"

#include "framework/AsciiText.h"

const char* PatchFilesRelativePart(const char* path) {
    const size_t folder = kPatchFilesPrefixLength - 1;
    if (!path || CompareNoCaseN(path, kPatchFilesPath, uint32_t(folder)) != 0) return nullptr;
    if (path[folder] == '\0') return path + folder;
    return path[folder] == '\\' ? path + kPatchFilesPrefixLength : nullptr;
}
