// Names of patch files inside the pack. The strings file is "PATCH.INI"; a
// file at Files/<path> becomes "FILES\<PATH>": upper case (the pack service
// finds only upper-case names), backslash-separated. A name must also be a
// name Windows can create in the game folder and must fit the patcher's
// 256-byte path buffers as "DATA\<name>".
#pragma once

#include <string>
#include <vector>

#include "payload/PatchNames.h"

constexpr size_t kMaxPackNameLength = 256 - kPatchMountLength - 2; // "DATA\" + name + NUL in 256 bytes

// "PATCH.INI" and "FILES\": the strings file's pack name and the prefix of
// every carried file's.
extern const std::string kStringsPackName;
extern const std::string kFilesPackPrefix;
// "DELTAS\": the prefix of every delta's pack name (payload/DeltaKey.h).
extern const std::string kDeltasPackPrefix;

// The part of a pack name below "FILES\" (the path below the game folder),
// or "" when the name is not below it.
std::string BelowFilesFolder(const std::string& packName);

// Why a path component cannot be carried (the patcher's PatchFileNameFault
// in words), or "" when it can.
std::string ComponentProblem(const std::string& component);

// The path below the game folder that the patcher writes for a pack entry
// (backslash-separated): <path> for FILES\<path> and DELTAS\<path>\<key>, ""
// for any other entry.
std::string WrittenPath(const std::string& packName);

// Why the patcher would not write path: the first name that breaks its rule
// and the reason ("\"CON.TXT\" is a device name ..."), or "" when it would.
std::string WrittenPathProblem(const std::string& path);

// The pack name of a file below Files/, given its path components.
std::string FilesPackName(const std::vector<std::string>& components);
