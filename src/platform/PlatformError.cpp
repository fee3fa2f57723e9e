#include "platform/PlatformError.h"

#include "platform/Win32.h"

ErrorCode MapPlatformError(uint32_t platformError, ErrorCode defaultCode) {
    switch (platformError) {
        case ERROR_SUCCESS: return nullptr;
        case ERROR_FILE_NOT_FOUND: return ERR_FILENOTFOUND;
        case ERROR_PATH_NOT_FOUND: return ERR_PATHNOTFOUND;
        case ERROR_TOO_MANY_OPEN_FILES: return ERR_TOOMANYOPENFILES;
        case ERROR_ACCESS_DENIED: return ERR_ACCESSDENIED;
        case ERROR_INVALID_DRIVE: return ERR_VOLUMENOTFOUND;
        case ERROR_NO_MORE_FILES: return ERR_NOMOREFILES;
        case ERROR_WRITE_PROTECT: return ERR_WRITEPROTECTED;
        case ERROR_NOT_READY: return ERR_NOTREADY;
        case ERROR_NOT_DOS_DISK: return ERR_BADVOLUME;
        case ERROR_SHARING_VIOLATION: return ERR_SHARING;
        case ERROR_FILE_EXISTS: return ERR_FILEEXIST;
        case ERROR_DISK_FULL: return ERR_DISKFULL;
        case ERROR_NEGATIVE_SEEK: return ERR_SEEKFAIL;
        case ERROR_ALREADY_EXISTS: return ERR_ALREADYEXISTS;
        default: return defaultCode;
    }
}

ErrorCode LastPlatformFailure(ErrorCode defaultCode) {
    ErrorCode code = MapPlatformError(GetLastError(), defaultCode);
    return code ? code : defaultCode;
}
