// The open-mode flags of CFile as the parameters of the platform's CreateFileA.
#pragma once

#include <cstdint>

struct DiskOpenParameters {
    uint32_t desiredAccess;        // GENERIC_READ / GENERIC_WRITE, or 0
    uint32_t shareMode;            // FILE_SHARE_READ / FILE_SHARE_WRITE, or 0 (exclusive)
    uint32_t creationDisposition;  // CREATE_ALWAYS, CREATE_NEW or OPEN_EXISTING
    uint32_t flagsAndAttributes;   // a caching hint, or FILE_ATTRIBUTE_NORMAL
};

DiskOpenParameters TranslateOpenMode(uint16_t mode);
