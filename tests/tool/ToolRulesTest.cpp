// The rules qptool applies: names a pack can carry, MS-DOS times, and a
// payload layout that the patcher's scan finds whatever the sizes.
#include "PatchCheck.h"

#include "Command.h"
#include "DosTime.h"
#include "PackNames.h"
#include "file/PlainFileName.h"
#include "PayloadLayout.h"
#include "ThreadWork.h"
#include "VectorFile.h"
#include "VersionDiff.h"

#include "payload/RemoveList.h"

#include "payload/LzssFormat.h"
#include "payload/LzssWriter.h"
#include "payload/PackWriter.h"
#include "pools/DefaultPools.h"
#include "pools/PtrPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A worker that runs out of memory must not end the process: every thread
// finishes, and the failure reaches the command's report.
TEST(RunOnThreads, AFailureOnAnyThreadReachesTheCallerAfterAllHaveEnded)
{
    for (int failing = 0; failing < 3; ++failing) {
        std::atomic<int> started{0}, finished{0};
        EXPECT_THROW(RunOnThreads(3,
                                  [&] {
                                      if (started++ == failing) throw std::bad_alloc();
                                      ++finished;
                                  }),
                     std::bad_alloc);
        EXPECT_EQ(started, 3);
        EXPECT_EQ(finished, 2);
    }
}

TEST(PackNames, RefusesWhatWindowsOrThePackCannotHold)
{
    EXPECT_EQ(ComponentProblem("Quor.exe"), "");
    EXPECT_EQ(ComponentProblem("read me (1).txt"), "");
    EXPECT_NE(ComponentProblem(""), "");
    EXPECT_NE(ComponentProblem("a:b"), "");
    EXPECT_NE(ComponentProblem("back\\slash"), "");
    EXPECT_NE(ComponentProblem("what?"), "");
    EXPECT_NE(ComponentProblem("caf\xc3\xa9"), "");
    EXPECT_NE(ComponentProblem("tab\there"), "");
    EXPECT_NE(ComponentProblem("trailing."), "");
    EXPECT_NE(ComponentProblem("trailing "), "");
    EXPECT_NE(ComponentProblem("con"), "");
    EXPECT_NE(ComponentProblem("Lpt3.log"), "");
    EXPECT_EQ(ComponentProblem("console"), "");
    EXPECT_NE(ComponentProblem(".."), "");
    // The patcher's own rule decides, and the tool names the reason: every
    // device name it refuses, the tool refuses as one.
    for (const char* name : {"COM0", "LPT0", "CONIN$", "conout$.txt", "nul .txt", "COM1.log", "lpt9"}) {
        EXPECT_FALSE(IsPlainFileName(name)) << name;
        EXPECT_NE(ComponentProblem(name).find("device name"), std::string::npos) << name;
    }
    for (const char* name : {"COM10", "CONIN", "nul_txt", ".hidden", "a..b"}) {
        EXPECT_TRUE(IsPlainFileName(name)) << name;
        EXPECT_EQ(ComponentProblem(name), "") << name;
    }
    EXPECT_NE(ComponentProblem(std::string(256, 'a')), "");
    EXPECT_NE(ComponentProblem("map.~QP").find(".~qp"), std::string::npos);
    EXPECT_NE(ComponentProblem(std::string("a\0b", 3)), "");
    EXPECT_EQ(FilesPackName({"zln", "ZavoVudiz.exe"}), "FILES\\ZLN\\ZAVOVUDIZ.EXE");
    EXPECT_EQ(BelowFilesFolder(FilesPackName({"zln", "ZavoVudiz.exe"})), "ZLN\\ZAVOVUDIZ.EXE");
    EXPECT_EQ(BelowFilesFolder("PATCH.INI"), "");
    EXPECT_EQ(BelowFilesFolder("FILESX\\A"), "");
    EXPECT_EQ(kStringsPackName, "PATCH.INI");
    // The patcher cuts the relative part only below "DATA\Files\".
    EXPECT_STREQ(PatchFilesRelativePart("DATA\\Files\\zln\\a.exe"), "zln\\a.exe");
    EXPECT_STREQ(PatchFilesRelativePart("data\\FILES"), "");
    EXPECT_EQ(PatchFilesRelativePart("DATA\\Filesx\\a.exe"), nullptr);
    EXPECT_EQ(PatchFilesRelativePart("DATA\\Patch.ini"), nullptr);
    EXPECT_EQ(PatchFilesRelativePart("DATA"), nullptr);
}

// The removal list as the tool writes it reads back line by line with the
// patcher's reader; a damaged copy is read up to its first damaged line.
TEST(RemoveList, ReadsWhatTheToolWritesAndStopsAtDamage)
{
    const std::string text = RemoveListText({{"data/Old.txt", {{5, 0xDEADBEEF}, {7, 0x00000001}}},
                                             {"maps/campaign/gone.map", {{0, 0}}}});
    ASSERT_EQ(text, "00000005DEADBEEF data\\Old.txt\r\n0000000700000001 data\\Old.txt\r\n"
                    "0000000000000000 maps\\campaign\\gone.map\r\n");
    auto read = [](const std::string& list) {
        std::vector<std::string> lines;
        const char* cursor = list.data();
        RemoveLine line;
        while (NextRemoveLine(&cursor, list.data() + list.size(), &line))
            lines.push_back(std::to_string(line.oldSize) + ":" + std::to_string(line.oldCrc) + ":" +
                            std::string(line.path, line.pathLength));
        return lines;
    };
    EXPECT_EQ(read(text), (std::vector<std::string>{"5:3735928559:data\\Old.txt", "7:1:data\\Old.txt",
                                                    "0:0:maps\\campaign\\gone.map"}));
    struct Damage {
        const char* what;
        std::string list;
        size_t lines;
    };
    const Damage damaged[] = {
        {"cut inside the last path", text.substr(0, text.size() - 5), 2},
        {"cut before the last line feed", text.substr(0, text.size() - 1), 2},
        {"a key digit that is none", std::string(text).replace(3, 1, "G"), 0},
        {"no blank behind the key", std::string(text).replace(16, 1, "_"), 0},
        {"an empty path", "0000000000000000 \r\n" + text, 0},
        {"a bare line feed", std::string(text).replace(text.find('\r'), 1, ""), 0},
        {"a zero byte in a path", std::string(text).replace(text.rfind("gone"), 1, std::string(1, '\0')), 2},
    };
    for (const Damage& damage : damaged)
        EXPECT_EQ(read(damage.list).size(), damage.lines) << damage.what;
}

TEST(DosTime, IsLocalTimeWithTwoSecondSteps)
{
    const char* saved = std::getenv("TZ");
    const std::string previous = saved ? saved : "";
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(DosDateTimeOf(981173106), 0x2A4320A3u); // 2001-02-03 04:05:06
    EXPECT_EQ(DosDateTimeOf(981173107), 0x2A4320A3u);
    EXPECT_EQ(DosDateTimeOf(0), 0x00210000u);          // before 1980: 1980-01-01
    if (saved)
        setenv("TZ", previous.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

// Past 2038, where a 32-bit time runs out: a file's date is read and
// converted in every build.
TEST(DosTime, ReadsDatesPast2038)
{
    struct UtcZone {
        UtcZone() : saved(std::getenv("TZ") ? std::getenv("TZ") : ""), had(std::getenv("TZ") != nullptr)
        {
            setenv("TZ", "UTC", 1);
            tzset();
        }
        ~UtcZone()
        {
            if (had)
                setenv("TZ", saved.c_str(), 1);
            else
                unsetenv("TZ");
            tzset();
        }
        std::string saved;
        bool had;
    } utc;
    const std::time_t when = std::time_t(2209086246); // 2040-01-02 03:04:06
    EXPECT_EQ(DosDateTimeOf(when), 0x78221883u);
    char path[] = "/tmp/qp-dostime-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    const timespec times[2] = {{when, 0}, {when, 0}};
    EXPECT_EQ(futimens(fd, times), 0);
    close(fd);
    std::time_t modified = 0;
    EXPECT_TRUE(ModificationTime(path, &modified));
    EXPECT_EQ(modified, when);
    unlink(path);
}

// A pack of one file of the given size, compressed as the tool does.
struct Payload {
    std::vector<uint8_t> content, image, container;
};

Payload MakePayload(size_t size, bool compressible, unsigned seed)
{
    Payload p;
    std::mt19937 random(seed);
    p.content.resize(size);
    for (uint8_t& b : p.content)
        b = compressible ? static_cast<uint8_t>('a' + random() % 3) : static_cast<uint8_t>(random());
    PackWriterEntry entry{"FILES\\DATA.BIN", p.content.data(), static_cast<uint32_t>(size), 0x2A4320A3u};
    uint8_t* image = nullptr;
    uint32_t imageSize = 0;
    EXPECT_EQ(BuildPackImage(&entry, 1, &image, &imageSize), nullptr);
    p.image.assign(image, image + imageSize);
    g_pDefaultPtrPool->Free(image);
    CVectorFile container;
    EXPECT_EQ(CompressLzssImage(p.image.data(), imageSize, &container, kLzssPatchBlockSize, kLzssPatchBitLengths,
                                nullptr),
              nullptr);
    p.container = container.data;
    return p;
}

std::vector<uint8_t> Stub(size_t size)
{
    std::vector<uint8_t> stub(size);
    for (size_t i = 0; i < size; ++i)
        stub[i] = static_cast<uint8_t>(i * 7 + 3);
    return stub;
}

TEST(PayloadLayout, TheScanFindsEveryPayloadWhateverTheSizes)
{
    int checked = 0;
    for (size_t stubSize : {size_t(1), size_t(8191), size_t(8192), size_t(8193), size_t(20000)}) {
        for (size_t contentSize : {size_t(1), size_t(16000), size_t(40000), size_t(70000)}) {
            for (bool compressible : {true, false}) {
                const Payload payload = MakePayload(contentSize, compressible, static_cast<unsigned>(contentSize));
                size_t offset = 0;
                const std::vector<uint8_t> patch =
                    LayOutPatch(Stub(stubSize), payload.container, payload.image.data(),
                                static_cast<uint32_t>(payload.image.size()), &offset);
                SCOPED_TRACE("stub " + std::to_string(stubSize) + ", content " + std::to_string(contentSize) +
                             (compressible ? ", compressible" : ", random"));
                // Behind the stub, in the first 8 bytes of a scan block, and
                // ending the file on a multiple of 8 (a certificate table's place).
                EXPECT_LT(offset % 8192, 8u);
                EXPECT_GE(offset, stubSize);
                EXPECT_EQ(patch.size() % 8, 0u);
                EXPECT_TRUE(std::equal(patch.begin(), patch.begin() + static_cast<long>(stubSize), Stub(stubSize).begin()));
                uint32_t found = 0;
                ASSERT_TRUE(FindPayload(patch, &found));
                EXPECT_EQ(found, offset);
                OpenedPatch opened(patch, found);
                ASSERT_TRUE(opened.Opened());
                std::vector<uint8_t> back;
                ASSERT_TRUE(opened.Read("Files\\data.bin", &back));
                EXPECT_EQ(back, payload.content);
                ++checked;
            }
        }
    }
    EXPECT_EQ(checked, 40);
}

TEST(PayloadLayout, AStubHoldingAHeaderIsRefused)
{
    const Payload payload = MakePayload(100, true, 1);
    std::vector<uint8_t> stub = Stub(30000);
    const uint8_t header[12] = {'L', 'Z', 'S', 'S', 1, 2, 3, 4, 0x00, 0x80, 0x00, 0x00};
    std::copy(header, header + 12, stub.begin() + 12345);
    size_t offset = 0;
    EXPECT_THROW(LayOutPatch(stub, payload.container, payload.image.data(),
                             static_cast<uint32_t>(payload.image.size()), &offset),
                 ToolError);
    // "LZSS" with another block size is passed over, as the scan does.
    stub[12345 + 9] = 0x40;
    EXPECT_NO_THROW(LayOutPatch(stub, payload.container, payload.image.data(),
                                static_cast<uint32_t>(payload.image.size()), &offset));
}

TEST(PayloadLayout, ScanLimitIsTheRoundedSizeMinusOneStep)
{
    EXPECT_EQ(PayloadScanLimit(16383), 0u);
    EXPECT_EQ(PayloadScanLimit(16384), 8192u);
    EXPECT_EQ(PayloadScanLimit(24575), 8192u);
    const uint8_t bytes[12] = {'L', 'Z', 'S', 'S', 0, 0, 0, 0, 0x00, 0x80, 0x00, 0x00};
    EXPECT_EQ(FindPayloadHeader(bytes, 12, 1), 0u);
    EXPECT_EQ(FindPayloadHeader(bytes, 12, 0), static_cast<size_t>(-1));
}

} // namespace
