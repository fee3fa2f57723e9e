// The installation a scenario starts from, laid out on the Linux host the
// same way for every runner: the game folder's folders and files (with their
// attributes as Wine and the host layer keep them) and the game's keys as a
// registry-export text.
#pragma once

#include <string>

#include "Scenarios.h"

namespace e2e {

// The game's keys of the scenario in the views it names, with its extra
// value lines in the 32-bit view's key.
std::string RegistryText(const Scenario& scenario);

// Lays out the game folder (host path): the game program, the scenario's
// folders, then its files. Empty, or what could not be made.
std::string WriteGameFolder(const Scenario& scenario, const std::string& gameFolder);

}  // namespace e2e
