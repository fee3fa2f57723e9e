// A patched file is written beside its target under a temporary name (the
// target's name followed by kPartialFileSuffix, in the same folder) and put
// in place in one step once every byte is written and the file is closed.
// A failure at any point, a process that dies included, leaves the target
// with its old bytes and attributes.
#pragma once

#include <cstdint>

#include "file/File.h"
#include "platform/Win32.h"

// Room for a target of 255 characters plus the suffix: Windows takes paths
// of up to 259 characters, so every target has a temporary name.
constexpr uint32_t kPartialPathSize = MAX_PATH;

// The temporary name of target, into partial (kPartialPathSize bytes).
bool PartialPathOf(const char* target, char* partial);

// Removes a partial file that an earlier failure or run left behind, a
// read-only one too; true when one was removed. Nothing happens when there
// is none.
bool RemovePartialFile(const char* partial);

// Opens partial for writing, empty: the open empties one a failed try left;
// one that cannot be opened so (read-only, hidden) is removed first. Null
// when it cannot be made.
CFile* CreatePartialFile(const char* partial);

// Removes every partial file below folder (a path ending in a backslash),
// in every subfolder, whichever run or patch left it; an old file a run left
// set aside (see MovePartialIn) goes back in place when its target is
// missing, and is removed otherwise.
void RemovePartialFilesBelow(const char* folder);

// Writes the bytes of a closed partial file to disk; false when it cannot be
// opened or the disk refuses them.
bool FlushPartial(const char* partial);

// Puts partial in place of target in one step, replacing a read-only, hidden
// or system target; afterwards target has partial's (normal) attributes. On
// failure target keeps its bytes and attributes and partial stays. A target
// that refuses to be replaced (read-only) is first set aside whole under its
// kept name (the partial name followed by the suffix again), so that a kill
// never leaves it in place with its attributes cleared.
// writeThrough: the move is on disk when this returns; without it the move
// reaches the disk with the next flush of the volume. Uses no pool and no
// state of the program: safe on a helper thread.
bool MovePartialIn(const char* partial, const char* target, bool writeThrough);

// MovePartialIn, and on failure partial is removed.
bool ReplaceWithPartial(const char* partial, const char* target, bool writeThrough);
