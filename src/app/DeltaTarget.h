// Files a patch carries as deltas (payload/DeltaKey.h): the pack folder
// "DATA\Deltas\<path>" holds one delta per old content of the game file
// <path>, each rebuilding the same new content. Deltas whose header names a
// source (kDeltaSource) rebuild <path> from that other game file, which the
// same patch usually removes (a renamed file). A file is rebuilt from the
// installed file and the delta whose key (size and CRC-32, and the digest
// its header names) it matches, into the temporary file beside it, checked
// against the new content's digest, and put in place as a copied file is.
#pragma once

#include "payload/DeltaContent.h"

#include <cstdint>

constexpr char kDeltasRoot[] = "DATA\\Deltas";
// The length of "DATA\Deltas\": what a delta folder's path loses to become
// relative to the game folder.
constexpr unsigned kDeltasPrefixLength = 12;

// The part of path below "DATA\Deltas\" (letter case aside): the game
// file's path relative to the game folder; null for a path not below it.
const char* DeltaRelativePart(const char* path);

// Rebuilds every file of the delta tree below sourcePath, asking
// Abort/Retry/Ignore ("errcopy") for each one it cannot rebuild. While the
// copy worker batches its files (CopyBatch.h), rebuilt files join the
// batches: a package of many small changed files is not flushed file by file.
void PatchDeltaTree(const char* sourcePath);

// 1 when the game file of the delta folder has the new content: it had it
// already (nothing is written), or it matched a delta's key and was rebuilt,
// checked and put in place. 0 when its name may not be written, it cannot be
// read, it matches no key, or the rebuild or the replacement fails; the game
// file then keeps its bytes and attributes and no temporary file is left.
int PatchOneFile(const char* deltaFolder);
// The same, but a rebuilt file is queued in the batch (closed, not flushed,
// not yet moved in); true also when the file had the new content already.
bool QueueOnePatch(const char* deltaFolder);

// The check's reading of a delta key, in two steps so that the installed
// files can be read on both processors between them (MeasureQueue.h).
// OpenKeyedFile: the installed file of a delta folder (its path into target,
// of kPathSize bytes) opened as the update reads it, or, when the target is
// not there, the source its deltas from another path name; oldPath
// (kPathSize bytes) gets the path opened (empty when the target's name may
// not be written). Null when it cannot be opened, *result then 0 when it is
// missing or may not be written, -1 when it is there.
CFile* OpenKeyedFile(const char* deltaFolder, char* target, char* oldPath, int* result);
// MatchKeyedFile: given the file's measure (read: read whole, its BLAKE3
// taken), 1 when it has the new content (*newSize 0: nothing is written) or
// a delta's key (*newSize: the rebuilt file's size), 0 when it matches no
// key, -1 when it could not be read. The file is read again only for a delta
// keyed by its CRC-32 alone or by a SHA-256 (written before BLAKE3). A target that matches no key is tried against
// the source of deltas from another path; oldPath then names that source.
int MatchKeyedFile(const char* deltaFolder, const char* target, char* oldPath, CFile* file, bool read,
                   DeltaContent* content, uint32_t* newSize);

// Calls visit for every folder of the delta tree below sourcePath that
// holds deltas (fits: its path fits the buffers).
void WalkDeltaFolders(const char* sourcePath, void (*visit)(const char* deltaFolder, bool fits));

// The size and CRC-32 of the file at path (a removal's key), read once
// through the file layer; false when it cannot be opened or read.
bool MeasureGameContent(const char* path, DeltaContent* content);

// Journals the game file of every delta folder below sourcePath
// (Transaction.h); false when a line cannot be written.
bool JournalDeltaTargets(const char* sourcePath);

