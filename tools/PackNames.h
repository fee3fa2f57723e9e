// Names of patch files inside the pack. The strings file is "PATCH.INI"; a
// file at Files/<path> becomes "FILES\<PATH>": upper case (the pack service
// finds only upper-case names), backslash-separated. A name must also be a
// name Windows can create in the game folder and must fit the patcher's
// 256-byte path buffers as "DATA\<name>".
#pragma once

#include <string>
#include <vector>

constexpr size_t kMaxPackNameLength = 250; // "DATA\" + name + NUL in 256 bytes

// Why a path component cannot be carried, or "" when it can.
std::string ComponentProblem(const std::string& component);

// The pack name of a file below Files/, given its path components.
std::string FilesPackName(const std::vector<std::string>& components);
