// Where a patch's pack appears to the patcher: mounted under kPatchMount plus
// a backslash, it holds the strings file and the folder whose tree the
// update copies into the game folder. The patcher, qptool and the tests take
// these names and lengths from here alone.
#pragma once

#include <cstddef>

constexpr char kPatchMount[] = "DATA";
constexpr char kPatchStringsPath[] = "DATA\\Patch.ini";
constexpr char kPatchFilesPath[] = "DATA\\Files";
constexpr size_t kPatchMountLength = sizeof kPatchMount - 1;

// The same names inside the pack, below the mount (the pack's own names are
// upper case): "Patch.ini" and "Files".
constexpr const char* kPackStringsName = kPatchStringsPath + kPatchMountLength + 1;
constexpr const char* kPackFilesFolder = kPatchFilesPath + kPatchMountLength + 1;
constexpr size_t kPackFilesFolderLength = sizeof kPatchFilesPath - kPatchMountLength - 2;

// "DATA\Files\": what a copied file's path loses to become relative to the
// game folder.
constexpr size_t kPatchFilesPrefixLength = sizeof kPatchFilesPath;
static_assert(kPatchFilesPrefixLength == 11, "\"DATA\\Files\\\" is 11 characters");

// The part of path below "DATA\Files\" (letter case aside): "" for the folder
// "DATA\Files" itself, null for a path that does not begin with it.
const char* PatchFilesRelativePart(const char* path);
