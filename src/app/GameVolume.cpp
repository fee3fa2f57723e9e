#include "app/GameVolume.h"

#include "platform/Win32.h"

namespace {

HANDLE g_Volume = INVALID_HANDLE_VALUE;

// The serial number of the volume that really holds folder, told through a
// handle on the folder itself, so that a junction or a directory link on
// its path is followed; false when it cannot be told.
bool FolderVolumeSerial(const char* folder, DWORD* serial) {
    HANDLE handle = CreateFileA(folder, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION information;
    bool told = GetFileInformationByHandle(handle, &information) != FALSE;
    CloseHandle(handle);
    *serial = information.dwVolumeSerialNumber;
    return told;
}

}  // namespace

bool OpenGameVolume(const char* folder) {
    CloseGameVolume();
    char root[MAX_PATH];
    if (!GetVolumePathNameA(folder, root, MAX_PATH)) return false;
    // Only a drive's root names a volume by its letter: a folder mounted
    // inside another volume, a share or a substituted folder does not, and
    // flushing "\\.\X:" there would flush some other volume.
    char letter = char(root[0] & ~0x20);
    if (letter < 'A' || letter > 'Z' || root[1] != ':' || root[2] != '\\' || root[3] != '\0') return false;
    UINT type = GetDriveTypeA(root);
    if (type != DRIVE_FIXED && type != DRIVE_REMOVABLE) return false;
    // The letter names the volume of the path's text; a junction or a link
    // on the way may lead to another one, whose files that volume's flush
    // would not cover. Its serial number must be the folder's.
    DWORD folderSerial = 0;
    DWORD volumeSerial = 0;
    if (!FolderVolumeSerial(folder, &folderSerial) ||
        !GetVolumeInformationA(root, nullptr, 0, &volumeSerial, nullptr, nullptr, nullptr, 0) ||
        folderSerial != volumeSerial)
        return false;
    char device[] = "\\\\.\\X:";
    device[4] = letter;
    g_Volume = CreateFileA(device, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    return g_Volume != INVALID_HANDLE_VALUE;
}

bool GameVolumeOpen() { return g_Volume != INVALID_HANDLE_VALUE; }

bool FlushGameVolume() { return GameVolumeOpen() && FlushFileBuffers(g_Volume); }

void CloseGameVolume() {
    if (g_Volume != INVALID_HANDLE_VALUE) CloseHandle(g_Volume);
    g_Volume = INVALID_HANDLE_VALUE;
}
