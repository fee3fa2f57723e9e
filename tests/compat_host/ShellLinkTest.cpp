// Special folders, the COM entry points and the .lnk format (checked with
// our own reader and, when installed, with lnkinfo from liblnk-utils).
#include "HostLnk.h"
#include "LnkReader.h"
#include "TempDir.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace {

w32host::LnkContents QuorLink()
{
    w32host::LnkContents link;
    link.target = "C:\\Games\\Quor\\zln\\zavovudiz.exe";
    link.workingDirectory = "C:\\Games\\Quor\\zln";
    link.iconLocation = link.target;
    link.description = "Orvandel Gaming Service";
    link.relativePath = "..\\..\\..\\..\\Games\\Quor\\zln\\zavovudiz.exe";
    return link;
}

TEST(LnkFormat, HoldsTheTargetAndTheUnicodeStrings)
{
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(w32host::BuildLnk(QuorLink(), &bytes));
    const LnkFile lnk = ReadLnk(bytes);
    ASSERT_TRUE(lnk.valid) << lnk.error;
    EXPECT_FALSE(lnk.countedNul);
    EXPECT_EQ(lnk.flags, 0x02u | 0x04 | 0x08 | 0x10 | 0x40 | 0x80);
    EXPECT_EQ(lnk.localBasePath, "C:\\Games\\Quor\\zln\\zavovudiz.exe");
    EXPECT_EQ(lnk.description, "Orvandel Gaming Service");
    EXPECT_EQ(lnk.relativePath, "..\\..\\..\\..\\Games\\Quor\\zln\\zavovudiz.exe");
    EXPECT_EQ(lnk.workingDirectory, "C:\\Games\\Quor\\zln");
    EXPECT_EQ(lnk.iconLocation, "C:\\Games\\Quor\\zln\\zavovudiz.exe");
    EXPECT_EQ(lnk.iconIndex, 0);
    EXPECT_EQ(lnk.showCommand, 1u);
}

TEST(LnkFormat, ATargetWithoutDriveHasNoLinkInfo)
{
    w32host::LnkContents link;
    link.target = "/host/path/game";
    link.description = "\x80uro";
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(w32host::BuildLnk(link, &bytes));
    EXPECT_EQ(ReadLnk(bytes).flags, 0x04u | 0x80);
    // The description in UTF-16: the euro sign of the ANSI code page.
    EXPECT_EQ(bytes[76 + 2], 0xAC);
    EXPECT_EQ(bytes[76 + 3], 0x20);
}

// What Wine's shell writes besides: an ID list before LinkInfo and strings
// that count their terminating NUL in. The reader takes both.
TEST(LnkReader, ReadsAnIdListAndNulCountedStrings)
{
    w32host::LnkContents contents = QuorLink();
    contents.iconIndex = 3;
    contents.relativePath.clear();
    std::vector<uint8_t> built;
    ASSERT_TRUE(w32host::BuildLnk(contents, &built));
    std::string link(built.begin(), built.end());
    link[20] = char(link[20] | 0x01);
    link.insert(76, std::string("\x04\0\x02\0\0\0", 6));
    LnkFile lnk = ReadLnk(link);
    ASSERT_TRUE(lnk.valid) << lnk.error;
    EXPECT_EQ(lnk.localBasePath, "C:\\Games\\Quor\\zln\\zavovudiz.exe");
    EXPECT_EQ(lnk.description, "Orvandel Gaming Service");
    EXPECT_EQ(lnk.workingDirectory, "C:\\Games\\Quor\\zln");
    EXPECT_EQ(lnk.iconLocation, "C:\\Games\\Quor\\zln\\zavovudiz.exe");
    EXPECT_EQ(lnk.iconIndex, 3);
    EXPECT_TRUE(lnk.relativePath.empty());
    EXPECT_FALSE(lnk.countedNul);

    // The description's count takes in one NUL more.
    const size_t description = link.find(std::string("O\0r\0v", 5)) - 2;
    link[description] = char(link[description] + 1);
    link.insert(description + 2 + 2 * 23, std::string(2, '\0'));
    lnk = ReadLnk(link);
    ASSERT_TRUE(lnk.valid) << lnk.error;
    EXPECT_EQ(lnk.description, "Orvandel Gaming Service");
    EXPECT_TRUE(lnk.countedNul);
}

// Foreign bytes and a link cut anywhere are refused with a reason.
TEST(LnkReader, RefusesForeignAndCutFiles)
{
    EXPECT_FALSE(ReadLnk(std::string("not a link")).error.empty());
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(w32host::BuildLnk(QuorLink(), &bytes));
    const std::string link(bytes.begin(), bytes.end());
    for (size_t cut = 0; cut + 4 < link.size(); ++cut)
        EXPECT_FALSE(ReadLnk(link.substr(0, cut)).error.empty()) << cut;
    EXPECT_FALSE(ReadLnk(link.substr(0, link.size() - 1)).valid);
    EXPECT_FALSE(ReadLnkFile("/nonexistent/x.lnk").error.empty());
}

TEST(LnkFormat, LnkinfoReadsTheFile)
{
    if (std::system("command -v lnkinfo >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "lnkinfo (liblnk-utils) is not installed";
    TempDir dir;
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(w32host::BuildLnk(QuorLink(), &bytes));
    WriteText(dir.Path("quor.lnk"), std::string(bytes.begin(), bytes.end()));
    const std::string command = "lnkinfo " + dir.Path("quor.lnk") + " > " + dir.Path("out.txt") + " 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << ReadText(dir.Path("out.txt"));
    const std::string out = ReadText(dir.Path("out.txt"));
    EXPECT_NE(out.find("Orvandel Gaming Service"), std::string::npos) << out;
    EXPECT_NE(out.find("..\\..\\..\\..\\Games\\Quor\\zln\\zavovudiz.exe"), std::string::npos) << out;
    EXPECT_NE(out.find("C:\\Games\\Quor\\zln"), std::string::npos) << out;
    EXPECT_NE(out.find("Local path"), std::string::npos) << out;
}

TEST(LnkFormat, RelativePathsFollowTheShellsForm)
{
    using w32host::RelativeLinkPath;
    EXPECT_EQ(RelativeLinkPath("C:\\Windows\\Start Menu\\Programs\\Quor\\x.lnk", "c:\\Games\\Quor\\zln\\z.exe"),
              "..\\..\\..\\..\\Games\\Quor\\zln\\z.exe");
    EXPECT_EQ(RelativeLinkPath("C:\\Games\\x.lnk", "C:\\GAMES\\z.exe"), ".\\z.exe");
    EXPECT_EQ(RelativeLinkPath("C:\\Games\\Quor\\x.lnk", "C:\\Games\\z.exe"), "..\\z.exe");
    EXPECT_EQ(RelativeLinkPath("C:\\x.lnk", "D:\\z.exe"), "");
    EXPECT_EQ(RelativeLinkPath("/host/x.lnk", "C:\\z.exe"), "");
}

TEST(ShellFolder, ProgramsIsOnDriveCUnlessConfigured)
{
    unsetenv("W32_PROGRAMS_DIR");
    LPITEMIDLIST idList = nullptr;
    ASSERT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_PROGRAMS, &idList), S_OK);
    char path[MAX_PATH];
    ASSERT_TRUE(SHGetPathFromIDListA(idList, path));
    EXPECT_STREQ(path, "C:\\Windows\\Start Menu\\Programs");
    CoTaskMemFree(idList);

    setenv("W32_PROGRAMS_DIR", "C:\\Start\\Programs", 1);
    ASSERT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_PROGRAMS, &idList), S_OK);
    ASSERT_TRUE(SHGetPathFromIDListA(idList, path));
    EXPECT_STREQ(path, "C:\\Start\\Programs");
    ILFree(idList);
    unsetenv("W32_PROGRAMS_DIR");

    EXPECT_EQ(SHGetSpecialFolderLocation(nullptr, 0x1234, &idList), E_INVALIDARG);
    EXPECT_FALSE(SHGetPathFromIDListA(nullptr, path));
}

TEST(Com, TheShellLinkNeedsInitialisationAndAnswersItsInterfaces)
{
    void* object = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA, &object),
              CO_E_NOTINITIALIZED);
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    CoUninitialize();
    EXPECT_EQ(CoCreateInstance(IID_IPersistFile, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA, &object),
              REGDB_E_CLASSNOTREG);
    ASSERT_EQ(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA, &object), S_OK);
    IShellLinkA* link = static_cast<IShellLinkA*>(object);
    IPersistFile* file = nullptr;
    ASSERT_EQ(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)), S_OK);
    EXPECT_EQ(link->SetDescription("Orvandel Gaming Service"), S_OK);
    char text[8];
    EXPECT_EQ(link->GetDescription(text, sizeof text), S_OK);
    EXPECT_STREQ(text, "Orvande");  // cut like lstrcpynA: seven characters and the NUL
    EXPECT_EQ(file->IsDirty(), S_OK);
    void* other = nullptr;
    EXPECT_EQ(link->QueryInterface(IID_IPersist, &other), S_OK);
    static_cast<IUnknown*>(other)->Release();
    EXPECT_EQ(file->Release(), 1u);
    EXPECT_EQ(link->Release(), 0u);
    CoUninitialize();
}


TEST(ShellLink, SaveWritesTheLinkThroughTheDriveMapping)
{
    TempDir drive;
    setenv("W32_DRIVE_C", drive.Path().c_str(), 1);
    std::filesystem::create_directories(drive.Path("Games/Quor/zln"));
    std::filesystem::create_directories(drive.Path("Windows/Start Menu/Programs/Quor"));
    WriteText(drive.Path("Games/Quor/zln/zavovudiz.exe"), "MZ client");

    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    IShellLinkA* link = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                               reinterpret_cast<void**>(&link)),
              S_OK);
    IPersistFile* file = nullptr;
    ASSERT_EQ(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)), S_OK);
    link->SetWorkingDirectory("C:\\Games\\Quor\\zln");
    link->SetPath("C:\\Games\\Quor\\zln\\zavovudiz.exe");
    link->SetIconLocation("C:\\Games\\Quor\\zln\\zavovudiz.exe", 0);
    link->SetDescription("Orvandel Gaming Service");
    const char linkPath[] = "C:\\Windows\\Start Menu\\Programs\\quor\\Orvandel Gaming Service.lnk";
    WCHAR wide[MAX_PATH];
    ASSERT_GT(MultiByteToWideChar(CP_ACP, 0, linkPath, -1, wide, MAX_PATH), 0);
    EXPECT_EQ(file->Save(wide, TRUE), S_OK);
    EXPECT_EQ(file->IsDirty(), S_FALSE);

    // An unmapped drive: the save fails and writes nothing.
    const WCHAR elsewhere[] = L"Q:\\x.lnk";
    EXPECT_TRUE(FAILED(file->Save(elsewhere, FALSE)));
    file->Release();
    link->Release();
    CoUninitialize();

    const std::string saved = ReadText(drive.Path("Windows/Start Menu/Programs/Quor/Orvandel Gaming Service.lnk"));
    const LnkFile lnk = ReadLnk(std::vector<uint8_t>(saved.begin(), saved.end()));
    ASSERT_TRUE(lnk.valid);
    EXPECT_EQ(lnk.localBasePath, "C:\\Games\\Quor\\zln\\zavovudiz.exe");
    EXPECT_EQ(lnk.relativePath, "..\\..\\..\\..\\Games\\Quor\\zln\\zavovudiz.exe");
    EXPECT_EQ(lnk.workingDirectory, "C:\\Games\\Quor\\zln");
    EXPECT_EQ(lnk.iconLocation, "C:\\Games\\Quor\\zln\\zavovudiz.exe");
    EXPECT_EQ(lnk.description, "Orvandel Gaming Service");
    EXPECT_EQ(lnk.fileSize, 9u);
    EXPECT_NE(lnk.writeTime, 0u);
    unsetenv("W32_DRIVE_C");
}

} // namespace
