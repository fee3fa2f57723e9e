// The patch payload: a compressed container appended to the program's own
// executable, found by its header ("LZSS", block size 0x8000 at offset 8) and
// mounted as a read-only pack under "DATA\".
#pragma once

#include <cstdint>

#include "file/File.h"
#include "framework/ErrorCode.h"

constexpr uint32_t kScanBlock = 8192;
constexpr uint32_t kScanOverlap = 18;  // a header starting in a block's last bytes is still read whole

// Scans file in kScanBlock steps (each read overlapping the next by
// kScanOverlap bytes) for the first container header that starts before L,
// the file size rounded down to kScanBlock minus kScanBlock. True and the
// offset when found.
bool FindPayloadOffset(CFile* file, uint32_t* offset);

// Finds the payload in the program's own file and mounts it. 0 when the
// file cannot be opened; without a payload it shows "Patch file is broken!"
// and ends the process with -1; else 1, whatever the mount gave.
int OpenPayload();

// Attaches a pack service to file and mounts it under name plus a backslash.
// The service owns file from the attach on; an unopened file is destroyed.
ErrorCode MountPack(CFile* file, const char* name);

// The program's own path from the command line ("path" in double quotes),
// or from the module itself when the command line is not of that form.
bool OwnProgramPath(const char* commandLine, char* path, uint32_t size);
