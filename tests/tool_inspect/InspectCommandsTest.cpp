// qptool list, extract and verify on the four kinds of input, and on damaged
// ones: one clear message and exit code 1, never a crash.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

#include "TempDir.h"
#include "ToolRun.h"
#include "MemoryFile.h"
#include "RunPrefix.h"
#include "BlockFileRaw.h"
#include "framework/LittleEndian.h"
#include "hpfs/BlockFileWriter.h"
#include "hpfs/WritableBFHP.h"
#include "hpfs/WritableHPFS.h"
#include "payload/LzssWriter.h"
#include "payload/PackWriter.h"
#include "pools/DefaultPools.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

using namespace inspecttest;

// Compressible bytes, several blocks of them.
Bytes Sample(size_t size) {
    Bytes b(size);
    for (size_t i = 0; i < size; ++i) b[i] = uint8_t("castle gold wood "[i % 17] + (i / 5000) % 3);
    return b;
}

struct Entry {
    std::string name;
    Bytes data;
};

Bytes Pack(const std::vector<Entry>& entries) {
    std::vector<PackWriterEntry> list;
    for (const Entry& e : entries) list.push_back({e.name.c_str(), e.data.data(), uint32_t(e.data.size()), 0x5A216000u});
    uint8_t* image = nullptr;
    uint32_t size = 0;
    EXPECT_EQ(BuildPackImage(list.data(), uint32_t(list.size()), &image, &size), nullptr);
    Bytes pack(image, image + size);
    g_pDefaultPtrPool->Free(image);
    return pack;
}

Bytes Container(const Bytes& image) {
    MemoryFile out;
    EXPECT_EQ(CompressLzssImage(image.data(), uint32_t(image.size()), &out, 0x8000, 0xC4, nullptr), nullptr);
    return out.data;
}

// An HPFS pack with LOCAL\strings3.ini and an empty folder.
Bytes Hpfs() {
    auto* file = new MemoryFile();
    EXPECT_EQ(WriteEmptyBlockFile(file, 512, 8, 100000), nullptr);
    auto* pool = new CWritableBFHP();
    EXPECT_EQ(pool->Attach(file), nullptr);
    {
        CWritableHPFS service(pool);
        EXPECT_EQ(service.MakeDirectory("", "LOCAL"), nullptr);
        EXPECT_EQ(service.MakeDirectory("", "EMPTY"), nullptr);
        ErrorCode error = nullptr;
        CFile* ini = service.Open("LOCAL\\strings3.ini", FM_READ | FM_WRITE | FM_CREATE, &error);
        EXPECT_NE(ini, nullptr) << error;
        const std::string text = "[system]\r\nlanguage = english\r\n";
        if (ini) {
            ini->Write(text.data(), uint32_t(text.size()), nullptr);
            delete ini;
        }
        pool->Flush();
        Bytes image = file->data;
        return image;
    }
}

class InspectCommands : public ::testing::Test {
protected:

    std::string Put(const std::string& name, const Bytes& bytes) {
        Write(dir / name, bytes);
        return (dir / name).string();
    }

    const std::vector<Entry> entries{{"Patch.ini", Text("[str]\r\ntitle = QUOR Patch\r\n")},
                                     {"Files\\Maps\\big.map", Sample(100000)},
                                     {"Files\\readme.txt", Text("read me")},
                                     {"Files\\zero.bin", {}}};
    TempDir temp{"inspect"};  // removed with all it holds when the test ends
    fs::path dir{temp.Path()};
};

}  // namespace

TEST_F(InspectCommands, ListsExtractsAndVerifiesAPackAndAContainer) {
    for (const std::string& file : {Put("data.pak", Pack(entries)), Put("data.lzs", Container(Pack(entries)))}) {
        ToolRun list = Tool("list " + file);
        ASSERT_EQ(list.exitCode, 0) << list.output;
        EXPECT_NE(list.output.find("    100000  2025-01-01 12:00:00  FILES\\MAPS\\BIG.MAP\n"), std::string::npos)
            << list.output;
        EXPECT_NE(list.output.find("         0  2025-01-01 12:00:00  FILES\\ZERO.BIN\n"), std::string::npos);
        EXPECT_NE(list.output.find("4 entries"), std::string::npos);

        ToolRun verify = Tool("verify " + file);
        EXPECT_EQ(verify.exitCode, 0) << verify.output;
        EXPECT_NE(verify.output.find("OK"), std::string::npos);

        fs::path out = dir / ("out-" + fs::path(file).filename().string());
        ToolRun extract = Tool("extract " + file + " " + out.string());
        ASSERT_EQ(extract.exitCode, 0) << extract.output;
        EXPECT_EQ(Read(out / "FILES" / "MAPS" / "BIG.MAP"), entries[1].data);
        EXPECT_EQ(Read(out / "PATCH.INI"), entries[0].data);
        EXPECT_TRUE(fs::exists(out / "FILES" / "ZERO.BIN"));
        EXPECT_EQ(fs::file_size(out / "FILES" / "ZERO.BIN"), 0u);
    }
    EXPECT_NE(Tool("list " + (dir / "data.lzs").string()).output.find("container, container at offset 0 holding a pack file"),
              std::string::npos);
}

#ifdef QPPATCHER
TEST_F(InspectCommands, FindsThePayloadOfAPatchExecutableByThePatchersScan) {
    fs::create_directories(dir / "src" / "Files" / "Maps");
    Write(dir / "src" / "Patch.ini", entries[0].data);
    Write(dir / "src" / "Files" / "Maps" / "big.map", entries[1].data);
    std::string patch = (dir / "patch").string();
    ToolRun build = Tool(std::string("build --stub ") + QPPATCHER + " --from " + (dir / "src").string() + " --out " + patch + " --allow-errors");
    ASSERT_EQ(build.exitCode, 0) << build.output;
    ToolRun list = Tool("list " + patch);
    ASSERT_EQ(list.exitCode, 0) << list.output;
    EXPECT_NE(list.output.find("patch executable, container at offset "), std::string::npos) << list.output;
    EXPECT_NE(list.output.find("FILES\\MAPS\\BIG.MAP"), std::string::npos);
    EXPECT_EQ(Tool("verify " + patch).exitCode, 0);
    ASSERT_EQ(Tool("extract " + patch + " " + (dir / "out").string()).exitCode, 0);
    EXPECT_EQ(Read(dir / "out" / "FILES" / "MAPS" / "BIG.MAP"), entries[1].data);
    // The stub alone carries no payload.
    ToolRun bare = Tool(std::string("list ") + QPPATCHER);
    EXPECT_EQ(bare.exitCode, 1);
    EXPECT_NE(bare.output.find("no pack file, container, HPFS pack or patch executable"), std::string::npos);
}
#endif

TEST_F(InspectCommands, ListsAndExtractsTheTreeOfAnHpfsPackBareAndInAContainer) {
    for (const std::string& file : {Put("local.wdt", Hpfs()), Put("local.lzs", Container(Hpfs()))}) {
        ToolRun list = Tool("list " + file);
        ASSERT_EQ(list.exitCode, 0) << list.output;
        EXPECT_NE(list.output.find("     <dir>  LOCAL\\\n"), std::string::npos) << list.output;
        EXPECT_NE(list.output.find("     <dir>  EMPTY\\\n"), std::string::npos);
        EXPECT_NE(list.output.find("        30  LOCAL\\strings3.ini\n"), std::string::npos);
        EXPECT_EQ(Tool("verify " + file).exitCode, 0);
        fs::path out = dir / ("out-" + fs::path(file).filename().string());
        ASSERT_EQ(Tool("extract " + file + " " + out.string()).exitCode, 0);
        EXPECT_EQ(Read(out / "LOCAL" / "strings3.ini"), Text("[system]\r\nlanguage = english\r\n"));
        EXPECT_TRUE(fs::is_directory(out / "EMPTY"));
    }
}

TEST_F(InspectCommands, VerifyReportsTheFirstBadBlockWithItsOffset) {
    Bytes container = Container(Pack(entries));
    const uint32_t block1 = uint32_t(container[18]) | uint32_t(container[19]) << 8 | uint32_t(container[20]) << 16 |
                            uint32_t(container[21]) << 24;
    ASSERT_LT(block1 + 3, container.size());
    // A first token copying from before the block's start.
    container[block1] = 0x7F;
    container[block1 + 1] = 0xFF;
    container[block1 + 2] = 0xFF;
    std::string file = Put("bad.lzs", container);
    ToolRun verify = Tool("verify " + file);
    EXPECT_EQ(verify.exitCode, 1);
    EXPECT_NE(verify.output.find("fault at offset " + std::to_string(block1) + ": block 1: a compressed block does not decode"),
              std::string::npos)
        << verify.output;
    ToolRun list = Tool("list " + file);
    EXPECT_EQ(list.exitCode, 1);
    EXPECT_NE(list.output.find("is damaged: fault at offset " + std::to_string(block1) + ": block 1:"),
              std::string::npos)
        << list.output;
}

TEST_F(InspectCommands, VerifyFindsAnEntryOutsideThePack) {
    Bytes pack = Pack(entries);
    pack.resize(pack.size() - 1);  // the last entry's data now runs past the end
    ToolRun verify = Tool("verify " + Put("cut.pak", pack));
    EXPECT_EQ(verify.exitCode, 1);
    EXPECT_NE(verify.output.find("lies outside the pack"), std::string::npos) << verify.output;
}

TEST_F(InspectCommands, DamagedOrForeignInputsGetOneMessageAndExitCodeOne) {
    Bytes pack = Pack(entries);
    Bytes hpfs = Hpfs();
    Bytes badHpfs = hpfs;
    badHpfs[4] = 0x11;  // an impossible block size
    Bytes lyingHeader = Container(pack);
    lyingHeader[4] = lyingHeader[5] = lyingHeader[6] = 0xFF;  // a size that needs a huge block table
    const std::vector<std::pair<std::string, Bytes>> inputs{
        {"empty", {}},
        {"junk", Text("just some text that is none of the kinds")},
        {"cutheader.pak", Bytes(pack.begin(), pack.begin() + 20)},
        {"cutdirectory.pak", Bytes(pack.begin(), pack.begin() + 60)},
        {"bad.wdt", badHpfs},
        {"cutcontainer.lzs", Bytes(lyingHeader.begin(), lyingHeader.begin() + 16)},
        {"lying.lzs", lyingHeader}};
    for (const auto& [name, bytes] : inputs) {
        std::string file = Put(name, bytes);
        for (const char* command : {"list", "verify", "extract"}) {
            std::string args = std::string(command) + " " + file + (command[0] == 'e' ? " " + (dir / "x").string() : "");
            ToolRun run = Tool(args);
            EXPECT_EQ(run.exitCode, 1) << name << " " << command << ": " << run.output;
            EXPECT_FALSE(run.output.empty()) << name << " " << command;
            EXPECT_EQ(run.output.find("unexpected"), std::string::npos) << run.output;
            EXPECT_EQ(run.output.find("Sanitizer"), std::string::npos) << run.output;
        }
    }
    EXPECT_FALSE(fs::exists(dir / "x"));
}

TEST_F(InspectCommands, ExtractRefusesNamesThatLeaveTheFolder) {
    Bytes pack = Pack({{"AB\\X", Text("x")}, {"AC", Text("y")}});
    // Turn the stored "AB" into "..": the names stay sorted and front-coded.
    for (size_t i = 0; i + 4 < pack.size(); ++i)
        if (pack[i] == 4 && pack[i + 1] == 0 && pack[i + 2] == 'A' && pack[i + 3] == 'B' && pack[i + 4] == '\\') {
            pack[i + 2] = '.';
            pack[i + 3] = '.';
            break;
        }
    ToolRun run = Tool("extract " + Put("evil.pak", pack) + " " + (dir / "out").string());
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find("refusing the stored name \"..\\X\""), std::string::npos) << run.output;
    EXPECT_FALSE(fs::exists(dir / "X"));
    EXPECT_FALSE(fs::exists(dir / "out"));
}

namespace {

// An HPFS pack with a chain of depth folders ("D0\D1\..."), a file at the bottom.
Bytes DeepHpfs(int depth, PoolHandle* root) {
    auto* file = new MemoryFile();
    EXPECT_EQ(WriteEmptyBlockFile(file, 512, 8, 100000), nullptr);
    auto* pool = new CWritableBFHP();
    EXPECT_EQ(pool->Attach(file), nullptr);
    CWritableHPFS service(pool);
    *root = service.RootHandle();
    std::string path;
    for (int i = 0; i < depth; ++i) {
        const std::string name = "D" + std::to_string(i % 10);
        EXPECT_EQ(service.MakeDirectory(path.c_str(), name.c_str()), nullptr) << path;
        path += (path.empty() ? "" : "\\") + name;
    }
    ErrorCode error = nullptr;
    CFile* bottom = service.Open((path + "\\end.txt").c_str(), FM_READ | FM_WRITE | FM_CREATE, &error);
    EXPECT_NE(bottom, nullptr) << error;
    if (bottom) {
        bottom->Write("end", 3, nullptr);
        delete bottom;
    }
    pool->Flush();
    return file->data;
}

}  // namespace

TEST_F(InspectCommands, VerifyFailsOnContainersThatAReaderWouldMisread) {
    const Bytes container = Container(Pack(entries));
    Bytes appended = container;
    appended.push_back(0x41);
    ToolRun run = Tool("verify " + Put("appended.lzs", appended));
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find("fault at offset "), std::string::npos) << run.output;

    // The last block stored raw, then made longer than the block size.
    const Bytes image = Pack({{"Patch.ini", Text("[str]\r\n")}});
    Bytes raw(18, 0);
    std::memcpy(raw.data(), "LZSS", 4);
    StoreU32(raw.data() + 4, uint32_t(image.size()));
    StoreU32(raw.data() + 8, 0x8000);
    raw[12] = 0xC4;
    StoreU32(raw.data() + 14, 18);
    raw.insert(raw.end(), image.begin(), image.end());
    EXPECT_EQ(Tool("verify " + Put("raw.lzs", raw)).exitCode, 0);
    raw.resize(18 + 0x8000 + 1, 0);
    run = Tool("verify " + Put("longraw.lzs", raw));
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find("fault at offset 18: block 0: the last block is longer than the block size"),
              std::string::npos)
        << run.output;

    // Damage in the first block is reported where it lies, not as a container
    // that holds nothing known.
    Bytes first = container;
    first[LoadU32(first.data() + 14)] ^= 0x80;
    run = Tool("verify " + Put("first.lzs", first));
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find("block 0: "), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("holds neither"), std::string::npos) << run.output;
}

TEST_F(InspectCommands, HeadersThatClaimGigabytesCostNothing) {
    Bytes lying(2048, 0);
    std::memcpy(lying.data(), "LZSS", 4);
    StoreU32(lying.data() + 4, 0xFFFFFFFFu);
    StoreU32(lying.data() + 8, 0x1000000u);
    lying[12] = 0xC4;
    for (uint32_t k = 0; k < 256; ++k) StoreU32(lying.data() + 14 + 4 * k, 14 + 4 * 256 + k * 3);
    const std::string file = Put("claims4g.lzs", lying);
    for (const char* command : {"verify ", "list "}) {
        ToolRun run = Tool(command + file);
        EXPECT_EQ(run.exitCode, 1) << run.output;
        EXPECT_NE(run.output.find("claims more bytes than its stored bytes can hold"), std::string::npos) << run.output;
    }
    // Honouring the header would have touched gigabytes.
    struct rusage usage {};
    ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &usage), 0);
    EXPECT_LT(usage.ru_maxrss, 300 * 1024) << "KB at the peak of a child";
}

TEST_F(InspectCommands, DeepHpfsTreesReadAndSelfContainingOnesAreRefused) {
    PoolHandle root = 0;
    const Bytes deep = DeepHpfs(70, &root);
    ToolRun run = Tool("verify " + Put("deep.wdt", deep));
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("71 HPFS items read"), std::string::npos) << run.output;

    // Every folder entry made to name the root: each directory holds itself.
    Bytes cyclic = deep;
    int changed = 0;
    for (size_t i = 0; i + 10 <= cyclic.size(); ++i)
        if (cyclic[i + 4] == 1 && cyclic[i + 5] == 0 && cyclic[i + 6] == 2 && cyclic[i + 7] == 0 && cyclic[i + 8] == 'D' &&
            cyclic[i + 9] >= '0' && cyclic[i + 9] <= '9') {
            StoreU32(cyclic.data() + i, root);
            ++changed;
        }
    ASSERT_GT(changed, 0);
    for (const char* command : {"verify ", "list "}) {
        run = Tool(command + Put("cyclic.wdt", cyclic));
        EXPECT_EQ(run.exitCode, 1) << run.output;
        EXPECT_NE(run.output.find("a directory inside itself"), std::string::npos) << run.output;
    }
}

// Damaged copies of a sound HPFS pack whose tree still reads: verify counts
// every block, so blocks in use that nothing reaches, or one reached twice,
// are faults, and the file is left as it was.
TEST_F(InspectCommands, VerifyChecksTheBlockAccountingOfAnHpfsPack) {
    const Bytes sound = Hpfs();
    ToolRun run = Tool("verify " + Put("sound.wdt", sound));
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("every block free or reachable once"), std::string::npos) << run.output;

    BlockFileHeader header;
    header.Load(sound.data());
    ASSERT_NE(header.rootHandle, 0u);
    Bytes noRoot = sound;
    StoreU32(noRoot.data() + 28, 0);  // the root handle: every file unreachable
    header.Load(noRoot.data());
    ASSERT_EQ(header.rootHandle, 0u);
    const std::string noRootFile = Put("noroot.wdt", noRoot);
    run = Tool("verify " + noRootFile);
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find("block accounting is broken"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("leaked"), std::string::npos) << run.output;
    EXPECT_EQ(Read(noRootFile), noRoot);

    // The data block of LOCAL\strings3.ini made to be LOCAL's head block.
    Bytes twice = sound;
    header.Load(twice.data());
    uint32_t local = 0, ini = 0;
    for (const RawEntry& entry : ParseRawEntries(ReadRawData(twice, header.rootHandle)))
        if (entry.name == "LOCAL") local = entry.handle;
    ASSERT_NE(local, 0u);
    for (const RawEntry& entry : ParseRawEntries(ReadRawData(twice, local)))
        if (entry.name == "strings3.ini") ini = entry.handle;
    ASSERT_NE(ini, 0u);
    const RawTree tree = ReadRawTree(twice, ini);
    ASSERT_TRUE(tree.ok);
    ASSERT_EQ(tree.pointerPositions.size(), 1u);
    StoreU32(twice.data() + tree.pointerPositions[0], local);
    run = Tool("verify " + Put("twice.wdt", twice));
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find("block " + std::to_string(local) + " is both"), std::string::npos) << run.output;
}
