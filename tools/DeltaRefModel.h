// The encoder's side of predicted references (format in
// src/payload/DeltaRefs.h): the old image's regions and an address map
// estimated from the adds of a plain match of the two files, each add moving
// its old addresses by the distance between its ends' rvas.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "DeltaEncode.h"

// The model's bytes, empty when either file is not an x86 or x86-64 image
// (PE or ELF) or the map comes out too long to send.
std::vector<uint8_t> BuildRefModel(const uint8_t* old, size_t oldSize, const uint8_t* neu, size_t newSize,
                                   const std::vector<DeltaCommand>& commands);
