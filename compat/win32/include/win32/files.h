// The Win32 file functions of the host layer: files, directories, listings
// and attributes over the host file system.
//
// Paths: '\\' and '/' both separate. "X:\..." is relative to the host
// directory named by the environment variable W32_DRIVE_X (an unmapped drive
// fails with ERROR_PATH_NOT_FOUND); a path starting with a separator is a
// host-absolute path; anything else is relative to the current directory.
// ".." never climbs above a drive's root. A component that has no entry of
// exactly its name matches an entry that differs only in ASCII letter case;
// names that are created keep the case they are given.
//
// Attributes: directory 0x10; read-only 0x01 when the owner may not write;
// hidden 0x02 and system 0x04 from the extended attribute "user.DOSATTRIB"
// (as Wine and Samba keep them); otherwise a file is normal (0x80). As on
// Windows, CreateFileA that empties an existing hidden or system file
// (CREATE_ALWAYS, TRUNCATE_EXISTING) fails with ERROR_ACCESS_DENIED unless
// those bits are asked for too. Share modes are enforced among the handles
// of this process. Fault injection: see win32/hostio.h.
#pragma once

#include "win32/base.h"

// Desired access and sharing.
constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD FILE_SHARE_READ = 0x00000001;
constexpr DWORD FILE_SHARE_WRITE = 0x00000002;
constexpr DWORD FILE_SHARE_DELETE = 0x00000004;

// Creation dispositions.
constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD TRUNCATE_EXISTING = 5;

// Attribute bits.
constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x00000001;
constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x00000002;
constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x00000004;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x00000010;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x00000020;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x00000080;
constexpr DWORD FILE_ATTRIBUTE_TEMPORARY = 0x00000100;
constexpr DWORD FILE_ATTRIBUTE_COMPRESSED = 0x00000800;
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;

// Flags of CreateFileA (the caching hints are accepted and ignored; writes
// through a write-through handle are synced before WriteFile returns).
constexpr DWORD FILE_FLAG_WRITE_THROUGH = 0x80000000u;
constexpr DWORD FILE_FLAG_BACKUP_SEMANTICS = 0x02000000;
constexpr DWORD FILE_FLAG_SEQUENTIAL_SCAN = 0x08000000;
constexpr DWORD FILE_FLAG_RANDOM_ACCESS = 0x10000000;

// Move methods and failure results.
constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD FILE_CURRENT = 1;
constexpr DWORD FILE_END = 2;
constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFFu;
constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFFu;

HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                          LPSECURITY_ATTRIBUTES securityAttributes, DWORD creationDisposition,
                          DWORD flagsAndAttributes, HANDLE templateFile);
BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead, LPVOID overlapped);
BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
                      LPVOID overlapped);
DWORD WINAPI SetFilePointer(HANDLE file, LONG distanceToMove, PLONG distanceToMoveHigh, DWORD moveMethod);
DWORD WINAPI GetFileSize(HANDLE file, LPDWORD fileSizeHigh);
BOOL WINAPI FlushFileBuffers(HANDLE file);
BOOL WINAPI SetEndOfFile(HANDLE file);
// Closes any handle of the host layer except a search handle (FindClose).
BOOL WINAPI CloseHandle(HANDLE object);

BOOL WINAPI DeleteFileA(LPCSTR fileName);
BOOL WINAPI MoveFileA(LPCSTR existingFileName, LPCSTR newFileName);

// Flags of MoveFileExA. With MOVEFILE_REPLACE_EXISTING an existing file is
// replaced in one step, unless it is read-only, a folder or open without
// delete sharing (ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION). Moves stay
// on one host file system; MOVEFILE_COPY_ALLOWED is accepted and not used.
// With MOVEFILE_WRITE_THROUGH the folder holding the new name is synced
// before the call returns.
constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x00000001;
constexpr DWORD MOVEFILE_COPY_ALLOWED = 0x00000002;
constexpr DWORD MOVEFILE_WRITE_THROUGH = 0x00000008;
BOOL WINAPI MoveFileExA(LPCSTR existingFileName, LPCSTR newFileName, DWORD flags);
BOOL WINAPI CreateDirectoryA(LPCSTR pathName, LPSECURITY_ATTRIBUTES securityAttributes);
BOOL WINAPI RemoveDirectoryA(LPCSTR pathName);
DWORD WINAPI GetFileAttributesA(LPCSTR fileName);
BOOL WINAPI SetFileAttributesA(LPCSTR fileName, DWORD fileAttributes);
DWORD WINAPI GetFullPathNameA(LPCSTR fileName, DWORD bufferLength, LPSTR buffer, LPSTR* filePart);
UINT WINAPI SetHandleCount(UINT number);

// The root of the volume that holds fileName: "X:\" for a path on a drive
// (each drive is one volume here), "\\" for any other path.
BOOL WINAPI GetVolumePathNameA(LPCSTR fileName, LPSTR volumePathName, DWORD bufferLength);

// The cluster size (sectors of 512 bytes) and the free and total clusters of
// the volume that holds rootPathName; W32_FAULT_SPACE=<bytes> sets the free.
BOOL WINAPI GetDiskFreeSpaceA(LPCSTR rootPathName, LPDWORD sectorsPerCluster, LPDWORD bytesPerSector,
                              LPDWORD freeClusters, LPDWORD totalClusters);

// Drive types; a mapped drive is a fixed disk, any other root has none.
constexpr UINT DRIVE_UNKNOWN = 0;
constexpr UINT DRIVE_NO_ROOT_DIR = 1;
constexpr UINT DRIVE_REMOVABLE = 2;
constexpr UINT DRIVE_FIXED = 3;
constexpr UINT DRIVE_REMOTE = 4;
UINT WINAPI GetDriveTypeA(LPCSTR rootPathName);

// Volumes: each drive is one volume with a serial number of its own, also
// where two drives map the same host folder. A file or folder belongs to the
// drive whose mapped folder holds it once links are followed (a game folder
// that is a link into drive D's folder lies on D); one on no drive has a
// serial of its host file system. Only the root "X:\" of a mapped drive
// answers GetVolumeInformationA.
BOOL WINAPI GetVolumeInformationA(LPCSTR rootPathName, LPSTR volumeNameBuffer, DWORD volumeNameSize,
                                  LPDWORD volumeSerialNumber, LPDWORD maximumComponentLength,
                                  LPDWORD fileSystemFlags, LPSTR fileSystemNameBuffer, DWORD fileSystemNameSize);

typedef struct _BY_HANDLE_FILE_INFORMATION {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD dwVolumeSerialNumber;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD nNumberOfLinks;
    DWORD nFileIndexHigh;
    DWORD nFileIndexLow;
} BY_HANDLE_FILE_INFORMATION, *LPBY_HANDLE_FILE_INFORMATION;
// A folder opens as a handle only with FILE_FLAG_BACKUP_SEMANTICS, as an
// existing folder without write access; such a handle answers this call.
BOOL WINAPI GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information);

// Directory listings.
typedef struct _WIN32_FIND_DATAA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    CHAR cFileName[MAX_PATH];
    CHAR cAlternateFileName[14];
} WIN32_FIND_DATAA, *PWIN32_FIND_DATAA, *LPWIN32_FIND_DATAA;

HANDLE WINAPI FindFirstFileA(LPCSTR fileName, LPWIN32_FIND_DATAA findFileData);
BOOL WINAPI FindNextFileA(HANDLE findFile, LPWIN32_FIND_DATAA findFileData);
BOOL WINAPI FindClose(HANDLE findFile);

// The 16-bit era open call, of which only the existence test is provided.
constexpr UINT OFS_MAXPATHNAME = 128;
constexpr UINT OF_EXIST = 0x00004000;
constexpr HFILE HFILE_ERROR = -1;

typedef struct _OFSTRUCT {
    BYTE cBytes;
    BYTE fFixedDisk;
    WORD nErrCode;
    WORD Reserved1;
    WORD Reserved2;
    CHAR szPathName[OFS_MAXPATHNAME];
} OFSTRUCT, *LPOFSTRUCT, *POFSTRUCT;

// With OF_EXIST: a positive value when a file (not a directory) of that name
// exists and could be opened for reading, szPathName receiving its full path.
// Other styles fail with ERROR_INVALID_PARAMETER.
HFILE WINAPI OpenFile(LPCSTR fileName, LPOFSTRUCT reOpenBuff, UINT style);
