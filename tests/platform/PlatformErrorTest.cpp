#include <gtest/gtest.h>

#include "file/File.h"
#include "platform/DiskOpenMode.h"
#include "platform/PlatformError.h"
#include "platform/Win32.h"

TEST(MapPlatformError, TranslatesEveryKnownNumber) {
    struct Row {
        uint32_t number;
        ErrorCode code;
    } const rows[] = {
        {2, ERR_FILENOTFOUND},  {3, ERR_PATHNOTFOUND},  {4, ERR_TOOMANYOPENFILES}, {5, ERR_ACCESSDENIED},
        {15, ERR_VOLUMENOTFOUND}, {18, ERR_NOMOREFILES}, {19, ERR_WRITEPROTECTED},  {21, ERR_NOTREADY},
        {26, ERR_BADVOLUME},    {32, ERR_SHARING},      {80, ERR_FILEEXIST},        {112, ERR_DISKFULL},
        {131, ERR_SEEKFAIL},    {183, ERR_ALREADYEXISTS},
    };
    for (const Row& row : rows) EXPECT_EQ(MapPlatformError(row.number, ERR_FILE), row.code) << row.number;
    EXPECT_EQ(MapPlatformError(0, ERR_FILE), nullptr);
    EXPECT_EQ(MapPlatformError(ERROR_INVALID_HANDLE, ERR_READFAIL), ERR_READFAIL);
    EXPECT_EQ(MapPlatformError(ERROR_DIR_NOT_EMPTY, ERR_FILE), ERR_FILE);
}

TEST(MapPlatformError, UsesTheRealPlatformNumbers) {
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, 2u);
    EXPECT_EQ(ERROR_INVALID_DRIVE, 15u);
    EXPECT_EQ(ERROR_NOT_DOS_DISK, 26u);
    EXPECT_EQ(ERROR_SHARING_VIOLATION, 32u);
    EXPECT_EQ(ERROR_FILE_EXISTS, 80u);
    EXPECT_EQ(ERROR_DISK_FULL, 112u);
    EXPECT_EQ(ERROR_NEGATIVE_SEEK, 131u);
    EXPECT_EQ(ERROR_ALREADY_EXISTS, 183u);
}

TEST(LastPlatformFailure, NeverReportsAFailedCallAsSuccess) {
    SetLastError(0);
    EXPECT_EQ(LastPlatformFailure(ERR_WRITEFAIL), ERR_WRITEFAIL);
    SetLastError(ERROR_DISK_FULL);
    EXPECT_EQ(LastPlatformFailure(ERR_WRITEFAIL), ERR_DISKFULL);
}

TEST(TranslateOpenMode, EachFlagIndependently) {
    DiskOpenParameters shared = TranslateOpenMode(0xC1);
    EXPECT_EQ(shared.desiredAccess, uint32_t(GENERIC_READ));
    EXPECT_EQ(shared.shareMode, uint32_t(FILE_SHARE_READ | FILE_SHARE_WRITE));
    EXPECT_EQ(shared.creationDisposition, uint32_t(OPEN_EXISTING));
    EXPECT_EQ(shared.flagsAndAttributes, uint32_t(FILE_ATTRIBUTE_NORMAL));

    DiskOpenParameters replace = TranslateOpenMode(0x0F);
    EXPECT_EQ(replace.desiredAccess, uint32_t(GENERIC_READ | GENERIC_WRITE));
    EXPECT_EQ(replace.shareMode, 0u);
    EXPECT_EQ(replace.creationDisposition, uint32_t(CREATE_ALWAYS));

    EXPECT_EQ(TranslateOpenMode(FM_CREATE).creationDisposition, uint32_t(CREATE_NEW));
    EXPECT_EQ(TranslateOpenMode(FM_TRUNCATE).creationDisposition, uint32_t(OPEN_EXISTING));
    EXPECT_EQ(TranslateOpenMode(0).desiredAccess, 0u);
    EXPECT_EQ(TranslateOpenMode(FM_SEQUENTIAL | FM_RANDOM).flagsAndAttributes,
              uint32_t(FILE_FLAG_SEQUENTIAL_SCAN));
    EXPECT_EQ(TranslateOpenMode(FM_RANDOM).flagsAndAttributes, uint32_t(FILE_FLAG_RANDOM_ACCESS));
}
