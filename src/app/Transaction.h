// One patch run is one transaction over the game folder: the game is left
// entirely old or entirely new.
//
// Every replaced or removed file keeps its old file, renamed beside it (its
// name followed by kKeptFileSuffix), until the commit: the new version
// recorded. A journal in the game folder (kJournalName) names, before each
// change, what the change touches: a target about to get a new file (and
// whether it had one), a folder about to be made, a file about to be set
// aside for removal. Every folder and target of the copy and the rebuild is
// journaled, and the journal flushed once, before the first folder or
// temporary file is made: no cut leaves a temporary file or kept old file
// that the journal on disk does not name. The removals' lines are all
// written, and flushed once, before the first file is set aside.
//
// - Abort, or a fatal error after the first change: RollBack, in the same
//   process, reads the journal back and undoes each line, last first.
// - A kill or a power cut before the commit: the next run of any patch
//   (RecoverInterruptedRun, before its first question) does the same.
// - The commit appends "C"; after it, and after a run that the player let
//   finish with skipped files, only the kept old files, temporary files and
//   emptied folders the journal names are swept, then the journal goes.
// The journal is the only record of what a run of ours left: nothing else
// below the game folder is ever swept.
//
// Journal lines (text, CR LF): "QPJ <from> <to>" (the installed version and
// the patch's, hexadecimal), then "F0 <path>" / "F1 <path>" (a new file for a
// target that was missing / present), "D <path>" (a folder about to be
// made), "X <path>" (a file set aside for removal), "C" (committed). Paths
// are below the game folder.
#pragma once

extern const char kJournalName[];      // "QuorPatch.~qj", in the game folder
extern const char kKeptFileSuffix[];   // ".~qo"

// Creates the journal; false when it cannot be written (nothing changes then).
bool BeginTransaction();
// True between BeginTransaction and the run's end.
bool InTransaction();

// Journals a target (full path) the run may give a new file, a folder
// (full path, with its backslash) it may make. False when the line cannot be
// written: the change must not be made.
bool JournalTarget(const char* target);
bool JournalFolder(const char* folder);
// Puts the lines written so far on disk; false when it cannot.
bool SecureJournal();

// Moves partial in over target, the old target kept beside it; on failure
// target is as it was and partial stays. writeThrough as MovePartialIn; with
// it the journal is flushed first. Uses no pool: safe on a helper thread
// when not writeThrough.
bool MoveInKeepingOld(const char* partial, const char* target, bool writeThrough);

// MoveInKeepingOld, and on failure partial is removed.
bool ReplaceKeepingOld(const char* partial, const char* target, bool writeThrough);

// Journals the removal of target (the line not yet flushed); false when
// the line cannot be written.
bool JournalRemoval(const char* target);
// Sets aside target, whose removal's line is on disk; writeThrough as
// MovePartialIn. False when it cannot be moved.
bool SetAsideJournaled(const char* target, bool writeThrough);
// Journals the removal of target, flushes the line and sets it aside
// (written through); false when it cannot be moved.
bool SetAsideForRemoval(const char* target);

// Undoes every journaled change (the batch's temporary files must be gone
// or be removable) and removes the journal.
void RollBack();
// Keeps what is in place: sweeps the kept files, temporary files and
// emptied folders the journal names (its lines in parts on helper threads
// as far as they can be had), flushes the volume and removes the journal. A "C"
// line goes to disk first.
void FinishTransaction();

// Records the version ("GameVersion") as the commit and finishes; when it
// cannot be recorded, rolls back. 1 when recorded.
int CommitUpdate();

// At start: finds the journal a run that died left in the game folder and
// rolls it back (not committed) or sweeps it (committed).
void RecoverInterruptedRun();
