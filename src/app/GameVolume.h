// The volume that holds the game folder, opened whole so that one flush puts
// every file written so far on disk (Windows lets an administrator, as the
// patcher runs, flush a volume handle; the host layer syncs its file system).
#pragma once

// Opens the volume of folder for flushing; false when it cannot be flushed
// as a whole (not a local drive, no rights, or the folder lies on another
// volume than its path's drive letter names, through a junction or a link,
// or that cannot be told), and the caller flushes file by file instead.
bool OpenGameVolume(const char* folder);
// True when a volume is open.
bool GameVolumeOpen();
// Writes every file of the open volume to disk, its folder entries too.
bool FlushGameVolume();
void CloseGameVolume();
