// The update stage: the tree "DATA\Files\" of the pack copied into the game
// folder, and the files carried as deltas rebuilt (DeltaTarget.h), by a
// worker thread behind a modal progress dialog.
#pragma once

#include "platform/Win32.h"

// Shows the progress dialog until the worker has ended it; returns 1. A
// dialog that does not appear, or ends without the worker, marks the update
// as incomplete (g_UpdateFailed).
int RunUpdate();
INT_PTR CALLBACK UpdateDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
DWORD WINAPI UpdateWorker(LPVOID parameter);

// Copies one pack directory and everything below it.
void CopyTree(const char* sourcePath);
// Journals every folder that copying the pack directory will make and
// every target it will write (Transaction.h); the caller puts the lines on
// disk before the first folder or temporary file is made. False when the
// journal cannot be written.
bool JournalCopyTargets(const char* sourcePath);
// Journals, or makes, the target folder of a pack directory (or of a
// rebuilt file's delta folder), every missing level of it.
bool JournalTargetDir(const char* sourcePath);
void MakeTargetDir(const char* sourcePath);
// 1 when the file was copied whole, flushed and put in place, the move on
// disk; 0 when its name may not be written (outside the game folder, or not
// a name Windows creates as given), the source or the temporary file cannot
// be opened, a read, write or flush fails or the target cannot be replaced.
// The target is then as it was.
int CopyOneFile(const char* sourcePath);
// Writes the temporary file of the entry and queues it in the batch (see
// CopyBatch.h); false, with nothing left behind, as CopyOneFile fails.
bool QueueOneFile(const char* sourcePath);
// Produces the temporary file partial of a pack entry (its target's
// journal line on disk already): every byte written, flushed to disk when
// flush, the file closed; *size gets its length. False on any failure, the
// temporary file then removed.
bool ProducePartial(const char* sourcePath, const char* partial, bool flush, uint32_t* size);
// The target below the game folder of a pack entry (or of a rebuilt file's
// delta folder) and its temporary name (partial may be null); false when the name may not be
// written or does not fit.
bool TargetPathsOf(const char* sourcePath, char* target, char* partial);
// Asks Abort/Retry/Ignore about an entry (a copied file, or a rebuilt one's
// delta folder) that could not be put in place until it is (Retry, on its
// own) or given up. Abort marks the update aborted (UpdateAborted) and
// returns: the file work stops, the worker removes what the run left half
// done and ends the dialog, and the main thread ends the process. Ignore, or
// a box that did not appear, marks the update incomplete. Once aborted, it
// asks nothing more.
void ReportCopyFailure(const char* entryPath, bool pathFits);
// The same box about the game file named relative, whatever the change that
// failed: retry(argument) is tried again at each Retry. True once it succeeds;
// false after Abort (AbortUpdate) or Ignore (the update incomplete, the file
// logged as skipped).
bool AskUntilDone(const char* relative, bool (*retry)(const char* argument), const char* argument);
// Abort: the file work stops (nothing is written or moved in after it); the
// worker then undoes every change of the run and ends the dialog, and the
// main thread shows "errnotcomplete" and ends the process.
void AbortUpdate();
// True once the player chose Abort.
bool UpdateAborted();
