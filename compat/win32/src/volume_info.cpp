// Volume serial numbers: GetVolumeInformationA of a drive's root and
// GetFileInformationByHandle of an open file or folder.
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

#include "host_paths.h"
#include "open_files.h"
#include "power_cut.h"
#include "win32/files.h"

namespace {

// Each drive its own number, whatever host folder it maps.
DWORD DriveSerial(char letter) { return 0x51D50000u | DWORD(uint8_t(letter)); }

DWORD SerialOf(const w32::FileObject& file) {
    if (file.isVolume) return DriveSerial(char(file.hostPath[4] & ~0x20));
    char drive = w32::DriveOfHostPath(file.hostPath);
    return drive ? DriveSerial(drive) : DWORD(uint64_t(file.device) ^ (uint64_t(file.device) >> 32));
}

}  // namespace

BOOL WINAPI GetVolumeInformationA(LPCSTR rootPathName, LPSTR volumeNameBuffer, DWORD volumeNameSize,
                                  LPDWORD volumeSerialNumber, LPDWORD maximumComponentLength,
                                  LPDWORD fileSystemFlags, LPSTR fileSystemNameBuffer, DWORD fileSystemNameSize) {
    if (!rootPathName || GetDriveTypeA(rootPathName) != DRIVE_FIXED) return w32::FailBool(ERROR_PATH_NOT_FOUND);
    if ((volumeNameBuffer && volumeNameSize < 1) || (fileSystemNameBuffer && fileSystemNameSize < 5))
        return w32::FailBool(ERROR_INVALID_PARAMETER);
    if (volumeNameBuffer) volumeNameBuffer[0] = '\0';
    if (volumeSerialNumber) *volumeSerialNumber = DriveSerial(char(rootPathName[0] & ~0x20));
    if (maximumComponentLength) *maximumComponentLength = 255;
    if (fileSystemFlags) *fileSystemFlags = 0;
    if (fileSystemNameBuffer) std::memcpy(fileSystemNameBuffer, "NTFS", 5);
    return TRUE;
}

BOOL WINAPI GetFileInformationByHandle(HANDLE handle, LPBY_HANDLE_FILE_INFORMATION information) {
    auto* file = w32::LookupHandleAs<w32::FileObject>(handle);
    if (!file) return w32::FailBool(ERROR_INVALID_HANDLE);
    if (!information) return w32::FailBool(ERROR_INVALID_PARAMETER);
    struct stat info;
    if (fstat(file->fd, &info) != 0) return w32::FailBool(ERROR_GEN_FAILURE);
    std::memset(information, 0, sizeof *information);
    information->dwFileAttributes = file->isVolume ? FILE_ATTRIBUTE_DIRECTORY : w32::AttributesOf(file->hostPath, info);
    information->dwVolumeSerialNumber = SerialOf(*file);
    information->nFileSizeHigh = DWORD(uint64_t(info.st_size) >> 32);
    information->nFileSizeLow = DWORD(uint64_t(info.st_size));
    information->nNumberOfLinks = DWORD(info.st_nlink);
    information->nFileIndexHigh = DWORD(uint64_t(info.st_ino) >> 32);
    information->nFileIndexLow = DWORD(uint64_t(info.st_ino));
    return TRUE;
}
