#include "platform/DiskOpenMode.h"

#include "file/File.h"
#include "platform/Win32.h"

DiskOpenParameters TranslateOpenMode(uint16_t mode) {
    DiskOpenParameters parameters{};
    if (mode & FM_READ) parameters.desiredAccess |= GENERIC_READ;
    if (mode & FM_WRITE) parameters.desiredAccess |= GENERIC_WRITE;
    if (mode & FM_SHARE_READ) parameters.shareMode |= FILE_SHARE_READ;
    if (mode & FM_SHARE_WRITE) parameters.shareMode |= FILE_SHARE_WRITE;
    // FM_TRUNCATE alone leaves an existing file as it is.
    if (mode & FM_CREATE)
        parameters.creationDisposition = (mode & FM_TRUNCATE) ? CREATE_ALWAYS : CREATE_NEW;
    else
        parameters.creationDisposition = OPEN_EXISTING;
    if (mode & FM_SEQUENTIAL)
        parameters.flagsAndAttributes = FILE_FLAG_SEQUENTIAL_SCAN;
    else if (mode & FM_RANDOM)
        parameters.flagsAndAttributes = FILE_FLAG_RANDOM_ACCESS;
    else
        parameters.flagsAndAttributes = FILE_ATTRIBUTE_NORMAL;
    return parameters;
}
