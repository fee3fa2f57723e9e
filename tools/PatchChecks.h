// The strings checks on what a build or `qptool check` looks at: a source
// folder's strings file with the files beside it, or the strings file and the
// files inside an existing patch.
#pragma once

#include "PatchSources.h"

#include <cstdio>
#include <string>
#include <vector>

// Checks the strings file of a source tree; baseFolder ("" for none) is the
// old installation a two-version build starts from. Prints the findings to
// out and returns the number of errors.
size_t CheckSourceStrings(const std::string& stringsPath, const std::vector<PatchSource>& sources,
                          const std::string& baseFolder, std::FILE* out);

// Whether an installation folder holds the shortcut's target (any letter case).
bool HasShortcutTarget(const std::string& gameFolder);
