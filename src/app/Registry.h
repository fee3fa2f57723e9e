// Reading and writing the game's values under HKEY_LOCAL_MACHINE, key
// SOFTWARE\Orvandel\Quor, with the fixed-size buffers of the program.
#pragma once

#include <cstdint>

#include "platform/Win32.h"

enum class RegistryText { kRead, kMissing, kTooLong };

// Opens the game's key, in the registry's 32-bit view, with the given access;
// false when it does not open.
bool OpenGameKey(REGSAM access, HKEY* key);

// Reads a string value into buffer (size bytes, at most 256), always
// terminated; an expandable string arrives with its %NAME% parts expanded. A
// value that does not fit with its terminator is kTooLong and leaves buffer
// empty; one of another type counts as missing.
RegistryText ReadRegistryText(HKEY key, const char* name, char* buffer, uint32_t size);

// Reads a REG_DWORD; false when the value cannot be read or is of another
// type or size.
bool ReadRegistryNumber(HKEY key, const char* name, uint32_t* value);
