// The folders this run made below the game folder, so that those it made for
// files it then could not write do not stay behind empty.
#pragma once

// Remembers a folder (full path) that this run created.
void NoteMadeFolder(const char* folder);
// Removes every remembered folder that is empty, deepest first; folders that
// hold anything, and folders this run did not make, stay.
void RemoveEmptyMadeFolders();
// Forgets the remembered folders and frees their record.
void ForgetMadeFolders();
