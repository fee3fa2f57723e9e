// What qptool build accepts as its stub: a patcher, that is a Windows GUI
// executable (PE) or a Linux executable (ELF) that carries the patcher's
// marker (app/PatcherMarker.h). Anything else, a README, a console program,
// a library, another program, is refused with the reason.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Why bytes are no patcher stub, or "" when they are one.
std::string StubProblem(const std::vector<uint8_t>& bytes);

// The marker's bytes, unmasked at run time.
std::vector<uint8_t> PatcherMarker();
