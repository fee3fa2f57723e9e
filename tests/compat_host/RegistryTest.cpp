// The registry over W32_REGISTRY_FILE: reads as Win32 reports them, and
// writes that change exactly the one line they must.
#include "TempDir.h"

#include <windows.h>
#include "win32/hostio.h"

#include <gtest/gtest.h>

#include <string>

#include <cstdlib>
#include <filesystem>

namespace {

// Registry calls return LSTATUS, a signed LONG; the error numbers are DWORDs.
DWORD Status(LSTATUS status)
{
    return static_cast<DWORD>(status);
}

const char kQuorKey[] = "SOFTWARE\\Orvandel\\Quor";

const std::string kHive =
    "Windows Registry Editor Version 5.00\r\n"
    "\r\n"
    "; exported for the tests\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvandel\\Quor]\r\n"
    "\"Path\"=\"C:\\\\Games\\\\Quor\\\\\"\r\n"
    "\"GameVersion\"=dword:00010005\r\n"
    "\"Language\"=\"english\"\r\n"
    "\"Blob\"=hex:01,02,\\\r\n"
    "  03,04\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software\\Other]\r\n"
    "@=\"default \\\"quoted\\\"\"\r\n"
    "\"Multi\"=hex(7):41,00,00,00\r\n"
    "\r\n";

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        file_ = dir_.Path("hive.reg");
        setenv("W32_REGISTRY_FILE", file_.c_str(), 1);
    }
    void TearDown() override
    {
        unsetenv("W32_REGISTRY_FILE");
        unsetenv("W32_FAULT_REGISTRY");
        w32::ReloadEnvironmentFaults();
    }

    // In the 64-bit view, where these keys lie, whatever the test's own bitness.
    HKEY Open(REGSAM access, const char* subKey = kQuorKey)
    {
        HKEY key = nullptr;
        EXPECT_EQ(Status(RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, access | KEY_WOW64_64KEY, &key)), ERROR_SUCCESS);
        return key;
    }

    TempDir dir_;
    std::string file_;
};

TEST_F(RegistryTest, ReadsStringsWithTheirTerminatorAndReportsTooSmallBuffers)
{
    WriteText(file_, kHive);
    HKEY key = Open(KEY_READ);
    char buffer[64];
    DWORD size = sizeof buffer, type = 0;
    ASSERT_EQ(Status(RegQueryValueExA(key, "Path", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size)), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_STREQ(buffer, "C:\\Games\\Quor\\");
    EXPECT_EQ(size, 15u);

    // One byte short of the terminator: ERROR_MORE_DATA with the size needed,
    // and a buffer full of text with no terminator (its contents are
    // undefined on Windows: a caller must not use them).
    char small[14] = "untouched";
    size = sizeof small;
    EXPECT_EQ(Status(RegQueryValueExA(key, "Path", nullptr, &type, reinterpret_cast<BYTE*>(small), &size)), ERROR_MORE_DATA);
    EXPECT_EQ(size, 15u);
    EXPECT_EQ(std::string(small, sizeof small), "C:\\Games\\Quor\\");

    // Without a buffer, just the size.
    size = 0;
    EXPECT_EQ(Status(RegQueryValueExA(key, "Language", nullptr, nullptr, nullptr, &size)), ERROR_SUCCESS);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(Status(RegCloseKey(key)), ERROR_SUCCESS);
    EXPECT_EQ(Status(RegCloseKey(key)), ERROR_INVALID_HANDLE);
}

TEST_F(RegistryTest, ReadsDwordsAndHexValuesIncludingContinuedLines)
{
    WriteText(file_, kHive);
    HKEY key = Open(KEY_READ);
    DWORD version = 0, size = sizeof version, type = 0;
    ASSERT_EQ(Status(RegQueryValueExA(key, "GameVersion", nullptr, &type, reinterpret_cast<BYTE*>(&version), &size)),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(version, 0x10005u);

    BYTE blob[8] = {};
    size = sizeof blob;
    ASSERT_EQ(Status(RegQueryValueExA(key, "Blob", nullptr, &type, blob, &size)), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    ASSERT_EQ(size, 4u);
    EXPECT_EQ(blob[0], 1);
    EXPECT_EQ(blob[3], 4);
    RegCloseKey(key);

    HKEY other = nullptr;
    ASSERT_EQ(Status(RegOpenKeyExA(HKEY_CURRENT_USER, "software\\OTHER", 0, KEY_READ, &other)), ERROR_SUCCESS);
    char text[32];
    size = sizeof text;
    ASSERT_EQ(Status(RegQueryValueExA(other, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(text), &size)), ERROR_SUCCESS);
    EXPECT_STREQ(text, "default \"quoted\"");
    size = sizeof text;
    ASSERT_EQ(Status(RegQueryValueExA(other, "Multi", nullptr, &type, reinterpret_cast<BYTE*>(text), &size)), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
    RegCloseKey(other);
}

TEST_F(RegistryTest, MissingKeysAndValuesAreNotFoundAndParentsOfKeysExist)
{
    WriteText(file_, kHive);
    HKEY key = nullptr;
    EXPECT_EQ(Status(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orvandel\\Quor2", 0, KEY_READ, &key)), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(Status(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orv", 0, KEY_READ, &key)), ERROR_FILE_NOT_FOUND);

    HKEY parent = Open(KEY_READ, "software\\orvandel");
    HKEY child = nullptr;
    ASSERT_EQ(Status(RegOpenKeyExA(parent, "QUOR", 0, KEY_READ, &child)), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(Status(RegQueryValueExA(child, "path", nullptr, nullptr, nullptr, &size)), ERROR_SUCCESS);
    EXPECT_EQ(Status(RegQueryValueExA(child, "NoSuchValue", nullptr, nullptr, nullptr, &size)), ERROR_FILE_NOT_FOUND);
    RegCloseKey(child);
    RegCloseKey(parent);

    unsetenv("W32_REGISTRY_FILE");
    EXPECT_EQ(Status(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kQuorKey, 0, KEY_READ, &key)), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, SettingAValueChangesOnlyItsLine)
{
    WriteText(file_, kHive);
    HKEY key = Open(KEY_READ | KEY_WRITE);
    const DWORD version = 0x1000C;
    ASSERT_EQ(Status(RegSetValueExA(key, "gameversion", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&version), 4)),
              ERROR_SUCCESS);
    std::string expected = kHive;
    expected.replace(expected.find("dword:00010005"), 14, "dword:0001000c");
    EXPECT_EQ(ReadText(file_), expected);

    // A new value goes to the end of its key, before the blank line.
    const char installed[] = "D:\\New \"Folder\"";
    ASSERT_EQ(Status(RegSetValueExA(key, "Installed", 0, REG_SZ, reinterpret_cast<const BYTE*>(installed), sizeof installed)),
              ERROR_SUCCESS);
    expected.insert(expected.find("\r\n\r\n[HKEY_CURRENT_USER") + 2, "\"Installed\"=\"D:\\\\New \\\"Folder\\\"\"\r\n");
    EXPECT_EQ(ReadText(file_), expected);

    char back[32];
    DWORD size = sizeof back;
    ASSERT_EQ(Status(RegQueryValueExA(key, "Installed", nullptr, nullptr, reinterpret_cast<BYTE*>(back), &size)),
              ERROR_SUCCESS);
    EXPECT_STREQ(back, installed);
    RegCloseKey(key);

    // Nothing is left behind beside the file.
    int entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.Path()))
        entries += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(entries, 1);
}

TEST_F(RegistryTest, AKeyOpenedForReadingCannotBeWritten)
{
    WriteText(file_, kHive);
    HKEY key = Open(KEY_READ);
    const DWORD version = 1;
    EXPECT_EQ(Status(RegSetValueExA(key, "GameVersion", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&version), 4)),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(ReadText(file_), kHive);
    RegCloseKey(key);
}

// A key that may be read but not written, and a hive that refuses the
// change: the file stays as it was.
TEST_F(RegistryTest, InjectedFaultsRefuseTheWriteAndLeaveTheFile)
{
    WriteText(file_, kHive);
    setenv("W32_FAULT_REGISTRY", "open:5", 1);
    w32::ReloadEnvironmentFaults();
    HKEY key = nullptr;
    EXPECT_EQ(Status(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kQuorKey, 0, KEY_WRITE | KEY_WOW64_64KEY, &key)),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(key, nullptr);
    RegCloseKey(Open(KEY_READ));

    setenv("W32_FAULT_REGISTRY", "set:112:1", 1);
    w32::ReloadEnvironmentFaults();
    key = Open(KEY_READ | KEY_WRITE);
    const DWORD version = 0x1000C;
    EXPECT_EQ(Status(RegSetValueExA(key, "GameVersion", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&version), 4)),
              ERROR_DISK_FULL);
    EXPECT_EQ(ReadText(file_), kHive);
    // Only the first time.
    EXPECT_EQ(Status(RegSetValueExA(key, "GameVersion", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&version), 4)),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

TEST_F(RegistryTest, ValuesThatAreNotPlainStringsOrDwordsAreWrittenAsHex)
{
    WriteText(file_, "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvandel\\Quor]\n\"Path\"=\"C:\\\\Q\\\\\"");
    HKEY key = Open(KEY_ALL_ACCESS);
    const char noTerminator[3] = {'a', 'b', 'c'};
    ASSERT_EQ(Status(RegSetValueExA(key, "Raw", 0, REG_SZ, reinterpret_cast<const BYTE*>(noTerminator), 3)), ERROR_SUCCESS);
    const BYTE two[2] = {5, 0};
    ASSERT_EQ(Status(RegSetValueExA(key, "Short", 0, REG_DWORD, two, 2)), ERROR_SUCCESS);
    // The last line had no line break; the new lines use the file's LF endings.
    EXPECT_EQ(ReadText(file_), "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvandel\\Quor]\n\"Path\"=\"C:\\\\Q\\\\\"\n"
                               "\"Raw\"=hex(1):61,62,63\n\"Short\"=hex(4):05,00\n");
    BYTE back[4] = {};
    DWORD size = sizeof back, type = 0;
    ASSERT_EQ(Status(RegQueryValueExA(key, "Raw", nullptr, &type, back, &size)), ERROR_SUCCESS);
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    RegCloseKey(key);
}

TEST_F(RegistryTest, CreatingAKeyCreatesTheFileAndOpensAnExistingKey)
{
    HKEY key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(Status(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kQuorKey, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &key,
                              &disposition)),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    const char path[] = "C:\\Games\\Quor";
    ASSERT_EQ(Status(RegSetValueExA(key, "Path", 0, REG_SZ, reinterpret_cast<const BYTE*>(path), sizeof path)), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(ReadText(file_), "Windows Registry Editor Version 5.00\r\n\r\n"
                               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvandel\\Quor]\r\n"
                               "\"Path\"=\"C:\\\\Games\\\\Quor\"\r\n");

    ASSERT_EQ(Status(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orvandel", 0, nullptr, 0, KEY_READ | KEY_WOW64_64KEY, nullptr, &key,
                              &disposition)),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    RegCloseKey(key);
}

TEST_F(RegistryTest, AFileThatIsNotARegistryExportIsReported)
{
    WriteText(file_, "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\X]\r\ngarbage line\r\n");
    HKEY key = nullptr;
    EXPECT_EQ(Status(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "X", 0, KEY_READ, &key)), ERROR_BADDB);
    WriteText(file_, "[HKEY_LOCAL_MACHINE\\X]\r\n");
    EXPECT_EQ(Status(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "X", 0, KEY_READ, &key)), ERROR_BADDB);
}

// HKEY_LOCAL_MACHINE\SOFTWARE as on a 64-bit Windows, where a 32-bit installer
// leaves its key under WOW6432Node.
const std::string kTwoViews =
    "Windows Registry Editor Version 5.00\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvandel\\Quor]\r\n"
    "\"Path\"=\"C:\\\\64\"\r\n"
    "\"GameVersion\"=dword:00000064\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Orvandel\\Quor]\r\n"
    "\"Path\"=\"C:\\\\32\"\r\n"
    "\"GameVersion\"=dword:00000032\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Only64]\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software\\Other]\r\n"
    "\"Path\"=\"C:\\\\user\"\r\n";

// The "Path" of a key opened below root with the given access; "" when the
// key does not open.
std::string PathOf(HKEY root, const char* subKey, REGSAM access)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, subKey, 0, access, &key) != ERROR_SUCCESS)
        return "";
    char text[32] = "";
    DWORD size = sizeof text;
    const LSTATUS status = RegQueryValueExA(key, "Path", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? text : "(no Path)";
}

TEST_F(RegistryTest, SoftwareHasA32BitAndA64BitViewAndTheProcessSeesItsOwnByDefault)
{
    WriteText(file_, kTwoViews);
    EXPECT_EQ(PathOf(HKEY_LOCAL_MACHINE, kQuorKey, KEY_READ | KEY_WOW64_32KEY), "C:\\32");
    EXPECT_EQ(PathOf(HKEY_LOCAL_MACHINE, kQuorKey, KEY_READ | KEY_WOW64_64KEY), "C:\\64");
    EXPECT_EQ(PathOf(HKEY_LOCAL_MACHINE, kQuorKey, KEY_READ), sizeof(void*) == 8 ? "C:\\64" : "C:\\32");

    // A key that only the 64-bit view holds is missing from the 32-bit view.
    HKEY key = nullptr;
    EXPECT_EQ(Status(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Only64", 0, KEY_READ | KEY_WOW64_32KEY, &key)),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);

    // WOW6432Node named outright is that key in either view, never nested twice.
    EXPECT_EQ(PathOf(HKEY_LOCAL_MACHINE, "software\\wow6432node\\orvandel\\quor", KEY_READ | KEY_WOW64_32KEY), "C:\\32");
    EXPECT_EQ(PathOf(HKEY_LOCAL_MACHINE, "SOFTWARE\\WOW6432Node\\Orvandel\\Quor", KEY_READ | KEY_WOW64_64KEY), "C:\\32");

    // Only HKEY_LOCAL_MACHINE\SOFTWARE is split.
    EXPECT_EQ(PathOf(HKEY_CURRENT_USER, "Software\\Other", KEY_READ | KEY_WOW64_32KEY), "C:\\user");
}

TEST_F(RegistryTest, TheViewIsChosenWhereThePathPassesThroughSoftware)
{
    WriteText(file_, kTwoViews);
    HKEY software = Open(KEY_READ, "SOFTWARE");
    EXPECT_EQ(PathOf(software, "Orvandel\\Quor", KEY_READ | KEY_WOW64_32KEY), "C:\\32");
    EXPECT_EQ(PathOf(software, "Orvandel\\Quor", KEY_READ | KEY_WOW64_64KEY), "C:\\64");
    RegCloseKey(software);

    // Below SOFTWARE a handle lies in one view, and its subkeys with it.
    HKEY vendor64 = Open(KEY_READ, "SOFTWARE\\Orvandel");
    EXPECT_EQ(PathOf(vendor64, "Quor", KEY_READ | KEY_WOW64_32KEY), "C:\\64");
    RegCloseKey(vendor64);
    HKEY vendor32 = nullptr;
    ASSERT_EQ(Status(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orvandel", 0, KEY_READ | KEY_WOW64_32KEY, &vendor32)),
              ERROR_SUCCESS);
    EXPECT_EQ(PathOf(vendor32, "Quor", KEY_READ | KEY_WOW64_64KEY), "C:\\32");
    RegCloseKey(vendor32);
}

TEST_F(RegistryTest, WritesAndNewKeysLandInTheViewTheKeyWasOpenedIn)
{
    WriteText(file_, kTwoViews);
    HKEY key = nullptr;
    ASSERT_EQ(Status(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kQuorKey, 0, KEY_WRITE | KEY_WOW64_32KEY, &key)), ERROR_SUCCESS);
    const DWORD version = 0x10005;
    ASSERT_EQ(Status(RegSetValueExA(key, "GameVersion", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&version), 4)),
              ERROR_SUCCESS);
    RegCloseKey(key);
    std::string expected = kTwoViews;
    expected.replace(expected.find("dword:00000032"), 14, "dword:00010005");
    EXPECT_EQ(ReadText(file_), expected);

    DWORD disposition = 0;
    ASSERT_EQ(Status(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Only64", 0, nullptr, 0, KEY_WRITE | KEY_WOW64_32KEY,
                                     nullptr, &key, &disposition)),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    RegCloseKey(key);
    expected += "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Only64]\r\n";
    EXPECT_EQ(ReadText(file_), expected);
}

} // namespace
