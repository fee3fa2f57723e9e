// Writes a whole output file or nothing: the bytes go to a temporary file
// beside the target, which is renamed over the target only when complete.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// Throws ToolError when the file cannot be written; the target is then
// unchanged and no temporary file is left.
void WriteOutputFile(const std::string& path, const std::vector<uint8_t>& bytes,
                     std::filesystem::perms permissions);
