// The update stage: the tree "DATA\Files\" of the pack copied into the game
// folder by a worker thread behind a modal progress dialog.
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
// Makes the target folder of a pack directory, every missing level of it.
void MakeTargetDir(const char* sourcePath);
// 1 when the file was copied whole and put in place; 0 when its name may
// not be written (outside the game folder, or not a name Windows creates as
// given), the source or the temporary file cannot be opened, a read or write
// fails or the target cannot be replaced. The target is then as it was.
int CopyOneFile(const char* sourcePath);
// Removes the temporary files that a run which died left beside the targets
// of the pack directory sourcePath and everything below it.
void RemovePartialFiles(const char* sourcePath);
