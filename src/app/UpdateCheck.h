// The check before the first change, after the version and language checks:
// every game file the patch replaces, rebuilds or removes is opened as the
// change will need it (a file in use or locked is named), every delta key is
// read, and the game volume's free space is held against what the run needs
// at its peak. Until the commit every old file stays beside its new one, so
// the peak is every new file on disk at once: each copied or rebuilt file's
// size rounded up to the volume's clusters, a file record (1 KB) for each,
// its kept old file's folder index entry, and the journal. A failure is told in one box, with Retry where the
// player can act; nothing is changed before the check passes.
#pragma once

// 1 when the update may begin; 0 when the player cancelled.
int CheckBeforeUpdate();
