// The Start-menu shortcut to the game's online-service client, placed in
// every "quor" folder below Programs, or in Programs itself when there is none.
#pragma once

// The stage: only when "zln_shortcut" is exactly "1" and "zln_name" is a
// plain file name.
void CreateShortcuts();
// Searches folderPath and every folder below it for folders named "quor".
void FindShortcutFolders(const char* folderPath);
// Writes one shortcut into folderPath; counts it once the save was tried.
void CreateShortcut(const char* folderPath);
