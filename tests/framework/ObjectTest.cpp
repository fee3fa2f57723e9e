#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "file/File.h"
#include "file/FileService.h"
#include "framework/ErrorCode.h"
#include "framework/Object.h"
#include "pools/HandlePool.h"
#include "pools/PtrPool.h"

TEST(ObjectModel, KindTestFollowsTheClassChainByAddress) {
    CFile file;
    EXPECT_EQ(file.IsKindOf(CFile::className), &file);
    EXPECT_EQ(file.IsKindOf(CObject::className), &file);
    EXPECT_EQ(file.IsKindOf(CFileService::className), nullptr);
    EXPECT_EQ(file.GetClassName(), CFile::className);

    // A separate copy of the text is a different class.
    static const char copyOfName[] = "CFile";
    EXPECT_STREQ(copyOfName, CFile::className);
    EXPECT_EQ(file.IsKindOf(copyOfName), nullptr);

    CFileService service;
    EXPECT_EQ(service.GetClassName(), CFileService::className);
    EXPECT_EQ(service.IsKindOf(CObject::className), &service);
    EXPECT_EQ(service.IsKindOf(CFile::className), nullptr);
}

TEST(ObjectModel, RootNameIsTheGeneralGroupsThirdCode) {
    EXPECT_EQ(CObject::className, ERR_COBJECT);
    EXPECT_EQ(g_AllErrorCodes[2], CObject::className);
}

TEST(ObjectModel, ConcretePoolsAnswerForTheirBaseAndYieldTheCObjectPart) {
    CSizedPtrPool sized;
    CHeapHandlePool handles;
    EXPECT_EQ(sized.GetClassName(), CPtrPool::className);
    EXPECT_EQ(sized.IsKindOf(CPtrPool::className), static_cast<CObject*>(&sized));
    EXPECT_EQ(sized.IsKindOf(CHandlePool::className), nullptr);
    EXPECT_EQ(sized.IsKindOf(CObject::className), static_cast<CObject*>(&sized));
    EXPECT_EQ(handles.GetClassName(), CHandlePool::className);
    EXPECT_EQ(handles.IsKindOf(CPtrPool::className), nullptr);
}

TEST(ErrorCodes, EveryGroupHasItsExactTextsInOrder) {
    const char* expected[] = {
        "\"Unknown error\"", "\"Not implemented yet\"", "CObject", "ALLOCFAIL", "LOCKFAIL", "REALLOCFAIL",
        "NOTLOCKED", "INDEXOUTOFRANGE", "BUFFERTOOSMALL", "BADPARAMS", "OUTOFRANGE", "NOTFOUND",
        "INVALIDFORMAT", "WHATAMESS",
        "FILE", "NOTENOUGHMEM", "READFAIL", "WRITEFAIL", "EOF", "BADOPENMODE", "SEEKFAIL", "FILENOTFOUND",
        "BADFILEFORMAT", "OPENFAIL", "TRUNCFAIL", "FLUSHFAIL", "PATHNOTFOUND", "ACCESSDENIED", "FILEEXIST",
        "NOMOREFILES", "NOTREADY", "VOLUMENOTFOUND", "TOOMANYOPENFILES", "WRITEPROTECTED", "BADVOLUME",
        "DISKFULL", "SHARING", "ALREADYEXISTS", "UNKNOWNPID",
        "POOL", "COMPACTED", "OVERMAXSIZE", "NOTCREATED", "NOTPOOLFILE", "ZEROSIZE", "NOTENOUGHMEMORY",
        "NULLPOINTER", "SIZEOUTOFRANGE",
        "HASHINI", "BADFILE", "NOTINLIST",
        "CLzssFile", "NOSUCHBITLENGTHS",
        "DELTA", "BADDELTA", "WRONGBASE", "BADRESULT",
        "8001",
    };
    ASSERT_EQ(g_AllErrorCodeCount, sizeof(expected) / sizeof(expected[0]));
    for (unsigned i = 0; i < g_AllErrorCodeCount; ++i) EXPECT_STREQ(g_AllErrorCodes[i], expected[i]) << i;
}

TEST(ErrorCodes, AddressesAndTextsAreUniqueAndNonNull) {
    std::set<ErrorCode> addresses;
    std::set<std::string> texts;
    for (unsigned i = 0; i < g_AllErrorCodeCount; ++i) {
        ASSERT_NE(g_AllErrorCodes[i], nullptr);
        addresses.insert(g_AllErrorCodes[i]);
        texts.insert(g_AllErrorCodes[i]);
    }
    EXPECT_EQ(addresses.size(), g_AllErrorCodeCount);
    EXPECT_EQ(texts.size(), g_AllErrorCodeCount);
}

TEST(ErrorCodes, OnlyTheTwoUniversalCodesCarryQuotes) {
    for (unsigned i = 0; i < g_AllErrorCodeCount; ++i) {
        bool quoted = std::strchr(g_AllErrorCodes[i], '"') != nullptr;
        EXPECT_EQ(quoted, i < 2) << g_AllErrorCodes[i];
    }
    EXPECT_STREQ(ErrorText(nullptr), "OK");
    EXPECT_STREQ(ErrorText(ERR_NUMERIC_8001), "8001");
}
