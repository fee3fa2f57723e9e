// The files a patch removes (payload/RemoveList.h): an installed file goes
// only while it still has one of the old contents listed for it; a copy the
// player changed stays, and the run says so. Folders left empty by the
// removals go too.
#pragma once

// Calls visit for every listed file that is installed (a file, not a
// folder), with its full path, its path below the game folder, and whether
// it has a listed content (false also when it cannot be read).
void VisitRemovals(void (*visit)(const char* target, const char* relative, bool listed));

// Removes the listed files that still have a listed content, asking
// Abort/Retry/Ignore ("errcopy") for one that cannot be removed, and tells
// of each changed one that stays ("removekept").
void RemoveListedFiles();
