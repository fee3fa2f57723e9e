// The patch payload: a compressed container appended to the program's own
// executable, found by its header ("LZSS", block size 0x8000 at offset 8) and
// mounted as a read-only pack under "DATA\".
#pragma once

#include <cstdint>

#include "file/File.h"
#include "framework/ErrorCode.h"
#include "payload/PayloadScan.h"  // FindPayloadOffset

class CPackFS;

// Finds the payload in the program's own file (up to a certificate table
// that code signing appended), mounts it under "DATA\" and, when the pack
// carries a checksum entry, checks the whole payload against it. Returns 1;
// an own file that cannot be opened, no payload, a pack that cannot be
// mounted or a failed check end the process in PatchFileBroken, so that
// nothing is ever read from a "DATA\" folder on disk instead.
int OpenPayload();

// While the pack's files are read front to back (the copy of the tree),
// the container's blocks ahead of the reader are decoded on a helper thread
// (payload/ReadAheadFile.h). Files opened in between read through it; none
// may be open at the end. Without memory or a thread the pack reads as
// before.
void BeginPayloadReadAhead();
void EndPayloadReadAhead();

// The fixed box "Patch file is broken!" (caption "QUOR Patch", OK, no
// icon), then the end of the process with exit code -1.
[[noreturn]] void PatchFileBroken();

// Attaches a pack service to file and mounts it under name plus a backslash.
// The service owns file from the attach on; an unopened file is destroyed.
// mounted (may be null) receives the service on success.
ErrorCode MountPack(CFile* file, const char* name, CPackFS** mounted = nullptr);

// The program's own file (its module's path); the command line carries only
// switches. False when the path does not fit size.
bool OwnProgramPath(char* path, uint32_t size);
