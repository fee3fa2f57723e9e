// The installed versions a patch admits, "vermin" up to "ver" as the patcher
// reads them, against the versions a delta build was given bases for. A game
// at "ver" itself already has the new files; every version below it that the
// window admits needs a base, or its changed files could not be rebuilt.
#pragma once

#include "GameBase.h"

#include <cstdint>
#include <string>
#include <vector>

// The admitted versions without a base ("1.01, 1.02 and 3 more"), empty when
// there is none; strings is the patch's strings file.
std::string VersionsWithoutBase(const std::vector<uint8_t>& strings, const std::vector<GameBase>& bases);

// The error text for such versions.
std::string VersionWindowError(const std::string& uncovered);
