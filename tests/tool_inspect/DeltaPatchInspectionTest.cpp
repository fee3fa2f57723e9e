// A real-size two-version patch (a program of executable-like bytes in
// three versions, a new library of several megabytes) and damaged copies of
// it through verify (with and without --base), list, extract and check:
// each gives the right answer or one fault at the file offset where the
// damage lies, never a signal. QP_DAMAGE_EVERY=n takes every n-th copy.
// QP_SAVE_DELTA_PATCH=<file> keeps the sound patch's container (the fuzz
// corpus's delta patch).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "ExecutableLike.h"
#include "MemoryFile.h"
#include "RunPrefix.h"
#include "TempDir.h"
#include "ToolRun.h"
#include "framework/LittleEndian.h"
#include "payload/Delta.h"
#include "payload/DeltaKey.h"
#include "payload/LzssFile.h"
#include "payload/LzssWriter.h"
#include "payload/PackWriter.h"
#include "payload/PackFS.h"
#include "payload/PatchCrc.h"
#include "payload/PatchSeal.h"
#include "payload/PayloadScan.h"
#include "pools/DefaultPools.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// Its own namespace: the test programs compile in batches.
namespace deltapatch {
namespace {

using namespace inspecttest;

const char kStrings[] =
    "[str]\r\nver = 10005\r\nvermin = 10003\r\ntitle = QUOR Patch\r\n"
    "welcome = This will upgrade QUOR to version 1.05. Do you want to continue?\r\n"
    "welcome2 = This program will upgrade QUOR to version 1.05. Do you want to continue?|| QUOR version installed: "
    "%d.%02d | QUOR instalation folder: %s\r\n"
    "noquor = QUOR not found!\r\nquorrun = You are running QUOR.\r\nnoneed = You have a more recent version!\r\n"
    "done = QUOR was updated to version 1.05 successfuly!\r\ncopy = Updating QUOR. Please, wait...\r\n"
    "wronglang = This patch is for the english version of QUOR only!\r\nerrcopy = Error while trying to copy %s\r\n"
    "errnotcomplete = QUOR update was NOT completed successfuly!\r\nerrvermin = QUOR version 1.03 required!\r\n"
    "zln_name = Orvandel Gaming Service\r\nzln_shortcut = 0\r\n";

std::string ReadText(const fs::path& path) {
    const Bytes bytes = Read(path);
    return std::string(bytes.begin(), bytes.end());
}

// "fault at offset N" and, for a checksum, "file offsets A to B".
struct NamedFault {
    bool found = false;
    uint64_t offset = 0, from = 0, to = 0;
    bool range = false;
};

NamedFault ParseFault(const std::string& output) {
    NamedFault fault;
    const size_t at = output.find("fault at offset ");
    if (at == std::string::npos) return fault;
    fault.found = true;
    fault.offset = std::stoull(output.substr(at + 16));
    const size_t range = output.find("file offsets ", at);
    if (range != std::string::npos) {
        fault.range = true;
        fault.from = std::stoull(output.substr(range + 13));
        fault.to = std::stoull(output.substr(output.find(" to ", range) + 4));
    }
    return fault;
}

// The versions and the patch, made once for the test program.
struct SharedPatch {
    TempDir temp{"deltapatch"};
    std::vector<Bytes> versions;
    std::vector<Bytes> engines;  // bin\engine.dll of 1.03 and 1.04, lib\engine.dll of 1.05
    Bytes library, patch, container, image;
    size_t containerAt = 0;
    bool built = false;
};

class DeltaPatchInspection : public ::testing::Test {
protected:
    static void SetUpTestSuite() { shared = new SharedPatch; }
    static void TearDownTestSuite() {
        delete shared;
        shared = nullptr;
    }

    void SetUp() override {
        if (!shared->built) Build();
    }

    void Build() {
        // Two installed versions and the new one; the library is new, so it
        // goes whole, and the program goes as a delta from each base.
        const testdata::ExecutableLike program(103, 1200000);
        const testdata::ExecutableLike v104 = program.Changed(104, 40);
        const testdata::ExecutableLike v105 = v104.Changed(105, 40);
        versions = {program.Bytes(), v104.Bytes(), v105.Bytes()};
        library = testdata::ExecutableLike(205, 3000000, 0.63).Bytes();
        // The engine moves from bin\ to lib\: rebuilt from the old path.
        const testdata::ExecutableLike engine(301, 1500000);
        const testdata::ExecutableLike e104 = engine.Changed(302, 30);
        engines = {engine.Bytes(), e104.Bytes(), e104.Changed(303, 30).Bytes()};
        const char* folders[] = {"1.03", "1.04", "new"};
        for (int v = 0; v < 3; ++v) {
            Write(dir / folders[v] / "game.exe", versions[v]);
            Write(dir / folders[v] / "readme.txt", Text(v == 2 ? "QUOR 1.05\r\n" : "QUOR\r\n"));
            Write(dir / folders[v] / (v == 2 ? "lib" : "bin") / "engine.dll", engines[v]);
        }
        Write(dir / "new" / "data" / "big.dll", library);
        Write(dir / "Patch.ini", Text(kStrings));
        const ToolRun build = Tool(std::string("build --stub ") + QPPATCHER + " --strings " + (dir / "Patch.ini").string() +
                                   Bases() + " --from " + (dir / "new").string() + " --out " + patchPath);
        ASSERT_EQ(build.exitCode, 0) << build.output;
        ASSERT_NE(build.output.find("delta     game.exe from 1.04"), std::string::npos) << build.output;
        ASSERT_NE(build.output.find("delta     lib/engine.dll from bin/engine.dll of 1.04"), std::string::npos)
            << build.output;
        patch = Read(patchPath);
        const size_t stub = Read(QPPATCHER).size();
        containerAt = stub + FindPayloadHeader(patch.data() + stub, patch.size() - stub, patch.size() - stub);
        ASSERT_LT(containerAt, patch.size());
        container.assign(patch.begin() + long(containerAt), patch.end());
        CLzssFile lzss(new MemoryFile(container), true);
        ASSERT_TRUE(lzss.isOpen);
        image.resize(lzss.GetSize());
        ASSERT_EQ(ReadExactly(&lzss, 0, image.data(), uint32_t(image.size())), nullptr);
        ASSERT_GT(image.size(), 3000000u) << "a pack of several megabytes";
        if (const char* keep = std::getenv("QP_SAVE_DELTA_PATCH")) Write(keep, container);
        shared->built = true;
    }

    std::string Bases() const {
        return " --base 1.03=" + (dir / "1.03").string() + " --base 1.04=" + (dir / "1.04").string();
    }

    // Where a pack entry's data begins in the image.
    uint32_t EntryOffset(const std::string& name) const {
        CPackFS pack;
        EXPECT_EQ(pack.Attach(new MemoryFile(image)), nullptr);
        ErrorCode error = nullptr;
        const uint32_t offset = pack.GetFileOffset(name.c_str(), &error);
        EXPECT_EQ(error, nullptr) << name;
        return offset;
    }
    std::string DeltaName(int version, const std::vector<Bytes>* of = nullptr) const {
        const Bytes& old = (of ? *of : versions)[version];
        char key[kDeltaKeyLength + 1];
        FormatDeltaKey(uint32_t(old.size()), Crc32(old.data(), old.size()), key);
        return std::string(of ? "DELTAS\\LIB\\ENGINE.DLL\\" : "DELTAS\\GAME.EXE\\") + key;
    }

    // Where the image's byte lies in the file: in its stored block, which
    // holds it at its place when raw, else somewhere (named by its start).
    uint64_t FileAt(uint64_t imageOffset) const {
        const size_t k = imageOffset / 0x8000, count = (image.size() - 1) / 0x8000 + 1;
        const uint32_t from = LoadU32(container.data() + 14 + 4 * k);
        const uint32_t to = k + 1 < count ? LoadU32(container.data() + 14 + 4 * (k + 1)) : uint32_t(container.size());
        const bool raw = to - from >= (k + 1 < count ? 0x8000 : image.size() - k * 0x8000);
        return containerAt + from + (raw ? imageOffset % 0x8000 : 0);
    }

    // The patch with its pack changed and sealed again, as a publisher's
    // faulty tool would write it: every checksum matches.
    Bytes Resealed(uint32_t at, uint8_t mask) const {
        Bytes changed = image;
        changed[at] ^= mask;
        MemoryFile sealed;
        EXPECT_EQ(CompressSealedPatch(changed.data(), uint32_t(changed.size()), &sealed, 0x8000, 0xC4, nullptr), nullptr);
        Bytes bytes(patch.begin(), patch.begin() + long(containerAt));
        bytes.insert(bytes.end(), sealed.data.begin(), sealed.data.end());
        return bytes;
    }

    static SharedPatch* shared;
    const fs::path dir{shared->temp.Path()};
    const std::string patchPath{(dir / "patch.exe").string()};
    std::vector<Bytes>& versions = shared->versions;
    std::vector<Bytes>& engines = shared->engines;
    Bytes &library = shared->library, &patch = shared->patch, &container = shared->container, &image = shared->image;
    size_t& containerAt = shared->containerAt;
};

SharedPatch* DeltaPatchInspection::shared = nullptr;

}  // namespace

TEST_F(DeltaPatchInspection, EveryCommandReadsTheSoundPatch) {
    ToolRun run = Tool("verify" + Bases() + " " + patchPath);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("base 1.03: 2 files rebuilt with their CRC-32"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("base 1.04: 2 files rebuilt with their CRC-32"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("checksum: PATCH.CRC covers"), std::string::npos) << run.output;
    run = Tool("list " + patchPath);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find(std::to_string(library.size()) + "  "), std::string::npos) << run.output;
    EXPECT_NE(run.output.find(DeltaName(1)), std::string::npos) << run.output;
    EXPECT_EQ(Tool("check" + Bases() + " " + patchPath).exitCode, 0);
    run = Tool("extract " + patchPath + " " + (dir / "out").string());
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(Read(dir / "out" / "FILES" / "DATA" / "BIG.DLL"), library);
    EXPECT_EQ(Read(dir / "out" / "FILES" / "README.TXT"), Text("QUOR 1.05\r\n"));
}

// The patcher on an installed 1.03: every file new, the engine rebuilt at
// its new path from its old one, which goes with the folder it leaves empty.
// First a copy whose engine deltas name two old paths (sealed again): the
// check finds no old engine, and Cancel leaves the game as it was.
TEST_F(DeltaPatchInspection, ThePatcherMakesTheNewVersionOfAnInstalled103) {
    const fs::path driveC = dir / "c", game = driveC / "Games" / "Quor";
    fs::create_directories(game.parent_path());
    fs::copy(dir / "1.03", game, fs::copy_options::recursive);
    Write(game / "Quor.exe", Text("game"));  // what tells the game's folder
    fs::create_directories(dir / "mutex");
    Write(dir / "registry.reg", Text("Windows Registry Editor Version 5.00\r\n\r\n"
                                     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Orvandel\\Quor]\r\n"
                                     "\"Path\"=\"C:\\\\Games\\\\Quor\\\\\"\r\n\"GameVersion\"=dword:00010003\r\n\r\n"));
    const std::string twoPaths = (dir / "two-paths.exe").string();
    Write(twoPaths, Resealed(EntryOffset(DeltaName(0, &engines)) + kDeltaHeaderSize + 64 + 3, 0x01));
    auto apply = [&](const std::string& file, const char* answers) {
        fs::permissions(file, fs::perms::owner_exec, fs::perm_options::add);
        const std::string command = "W32_DRIVE_C=" + driveC.string() + " W32_REGISTRY_FILE=" +
                                    (dir / "registry.reg").string() + " W32_ANSWERS=" + answers + " W32_MUTEX_DIR=" +
                                    (dir / "mutex").string() + " W32_TRANSCRIPT=" + (dir / "transcript.jsonl").string() +
                                    " " + ShellCommandFor(file) + " >/dev/null 2>&1";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(apply(twoPaths, "yes,cancel"), 255) << ReadText(dir / "transcript.jsonl");
    EXPECT_NE(ReadText(dir / "transcript.jsonl").find("LIB\\\\ENGINE.DLL"), std::string::npos);
    EXPECT_EQ(Read(game / "bin" / "engine.dll"), engines[0]);
    EXPECT_EQ(Read(game / "game.exe"), versions[0]);
    EXPECT_FALSE(fs::exists(game / "LIB"));

    ASSERT_EQ(apply(patchPath, "yes,ok"), 0) << ReadText(dir / "transcript.jsonl");
    EXPECT_EQ(Read(game / "GAME.EXE"), versions[2]);
    EXPECT_EQ(Read(game / "LIB" / "ENGINE.DLL"), engines[2]);
    EXPECT_EQ(Read(game / "DATA" / "BIG.DLL"), library);
    EXPECT_FALSE(fs::exists(game / "bin")) << "the engine's old path and its emptied folder go";
    EXPECT_NE(ReadText(dir / "registry.reg").find("dword:00010005"), std::string::npos);
}

// The same patch written without the checksum entry: the patcher refuses
// it, so verify and check name it; list and extract read it.
TEST_F(DeltaPatchInspection, APatchWithoutTheChecksumEntryIsNamed) {
    CPackFS pack;
    ASSERT_EQ(pack.Attach(new MemoryFile(image)), nullptr);
    const std::vector<std::string> names = {DeltaName(0), DeltaName(1), DeltaName(0, &engines), DeltaName(1, &engines),
                                            "FILES\\DATA\\BIG.DLL", "FILES\\README.TXT", "PATCH.INI", "REMOVE"};
    std::vector<Bytes> contents;
    std::vector<PackWriterEntry> entries;
    for (const std::string& name : names) {
        ErrorCode error = nullptr;
        std::unique_ptr<CFile> file(pack.Open(name.c_str(), FM_READ, &error));
        ASSERT_NE(file, nullptr) << name;
        contents.emplace_back(file->GetSize());
        ASSERT_EQ(ReadExactly(file.get(), 0, contents.back().data(), uint32_t(contents.back().size())), nullptr);
    }
    for (size_t i = 0; i < names.size(); ++i)
        entries.push_back({names[i].c_str(), contents[i].data(), uint32_t(contents[i].size()), 0x5A216000u});
    uint8_t* plain = nullptr;
    uint32_t plainSize = 0;
    ASSERT_EQ(BuildPackImage(entries.data(), uint32_t(entries.size()), &plain, &plainSize), nullptr);
    MemoryFile compressed;
    ASSERT_EQ(CompressLzssImage(plain, plainSize, &compressed, 0x8000, 0xC4, nullptr), nullptr);
    g_pDefaultPtrPool->Free(plain);
    Bytes bytes(patch.begin(), patch.begin() + long(containerAt));
    bytes.insert(bytes.end(), compressed.data.begin(), compressed.data.end());
    const std::string file = (dir / "unchecked.exe").string();
    Write(file, bytes);

    for (const std::string& command : {"verify " + file, "verify" + Bases() + " " + file, "check " + file}) {
        const ToolRun run = Tool(command);
        EXPECT_EQ(run.exitCode, 1) << command << ": " << run.output;
        EXPECT_NE(run.output.find("without a PATCH.CRC entry"), std::string::npos) << command << ": " << run.output;
        EXPECT_GE(ParseFault(run.output).offset, containerAt) << run.output;
    }
    EXPECT_EQ(Tool("list " + file).exitCode, 0);
    ASSERT_EQ(Tool("extract " + file + " " + (dir / "unchecked").string()).exitCode, 0);
    EXPECT_EQ(Read(dir / "unchecked" / "FILES" / "DATA" / "BIG.DLL"), library);
}

TEST_F(DeltaPatchInspection, EveryDamagedCopyIsNamedAtItsOffsetNeverASignal) {
    struct Damage {
        std::string name;
        Bytes bytes;
        uint64_t at;          // the damaged file offset
        uint64_t lo, hi;      // where the fault may be named: the damage or what it spoils
        bool onlyWithBases;   // sealed again: only the rebuild can tell
    };
    std::vector<Damage> cases;
    const uint64_t end = patch.size(), firstBlock = FileAt(0);
    cases.push_back({"cut in the middle", Bytes(patch.begin(), patch.begin() + long(containerAt + container.size() / 2)),
                     end, containerAt, end, false});
    cases.push_back({"one byte cut", Bytes(patch.begin(), patch.end() - 1), end, containerAt, end, false});
    auto flipped = [&](const std::string& name, uint64_t at, uint8_t mask, uint64_t lo, uint64_t hi) {
        Bytes bytes = patch;
        bytes[at] ^= mask;
        cases.push_back({name, bytes, at, lo, hi, false});
    };
    // A header or table that lies spoils the table's reading or the blocks it bounds.
    flipped("the container's size lies", containerAt + 6, 0x01, containerAt, firstBlock);
    flipped("block 3's table entry lies", containerAt + 14 + 4 * 3, 0x04, containerAt, FileAt(4 * 0x8000));
    flipped("a byte of the directory", firstBlock + 60, 0x20, firstBlock, firstBlock + 60);
    for (int base : {0, 1}) {
        const uint32_t delta = EntryOffset(DeltaName(base));
        const uint64_t middle = FileAt(delta + 40000);
        flipped("a byte in the middle of delta " + std::to_string(base), middle, 0x10, FileAt(delta + 40000), middle);
        // Sealed again, the size the delta promises lies, or its stream:
        // the rebuild names the delta.
        cases.push_back({"the new size in delta " + std::to_string(base) + "'s header lies", Resealed(delta + 12, 0x01),
                         FileAt(delta + 12), FileAt(delta), FileAt(delta + 12), true});
        cases.push_back({"a byte of delta " + std::to_string(base) + "'s stream, sealed again",
                         Resealed(delta + 20000, 0x40), FileAt(delta + 20000), FileAt(delta), FileAt(delta + 20000),
                         true});
    }
    // One engine delta's old path (after the header, the digests and its
    // length) names another file than the other's: either is named.
    const uint32_t moved = EntryOffset(DeltaName(0, &engines)), other = EntryOffset(DeltaName(1, &engines));
    const uint32_t pathByte = moved + kDeltaHeaderSize + 64 + 3;
    cases.push_back({"the engine delta's source path, sealed again", Resealed(pathByte, 0x01), FileAt(pathByte),
                     FileAt(std::min(moved, other)), FileAt(std::max(pathByte, other)), true});
    const uint64_t middle = FileAt(EntryOffset("FILES\\DATA\\BIG.DLL") + 1500000) + 100;
    flipped("a byte in the middle of the library", middle, 0x08, middle - 100, middle);
    flipped("a byte of the last block", end - 30, 0x02, FileAt(image.size() - 1), end - 30);

    const char* every = std::getenv("QP_DAMAGE_EVERY");
    const size_t step = every && std::atoi(every) > 1 ? size_t(std::atoi(every)) : 1;
    int located = 0;  // single changed bytes named by the CRC
    for (size_t i = 0; i < cases.size(); i += step) {
        const Damage& damage = cases[i];
        const std::string file = (dir / "damaged.exe").string();
        Write(file, damage.bytes);
        for (const std::string& command : {"verify " + file, "verify" + Bases() + " " + file, "list " + file,
                                           "check " + file, "extract " + file + " " + (dir / "x").string()}) {
            const ToolRun run = Tool(command);
            EXPECT_LT(run.exitCode, 2) << damage.name << ": " << command << ": " << run.output;
            EXPECT_FALSE(run.output.empty()) << damage.name << ": " << command;
            EXPECT_EQ(run.output.find("Sanitizer"), std::string::npos) << run.output;
            const bool verifying = command.rfind("verify", 0) == 0;
            const bool rebuilding = command.find("--base") != std::string::npos;
            if (!verifying || (damage.onlyWithBases && !rebuilding)) continue;
            EXPECT_EQ(run.exitCode, 1) << damage.name << ": " << command << ": " << run.output;
            const NamedFault fault = ParseFault(run.output);
            ASSERT_TRUE(fault.found) << damage.name << ": " << run.output;
            // Named where it lies: a checksum's range that holds it, or the
            // damaged byte, the table or the block it spoils.
            if (fault.range) {
                EXPECT_LE(fault.from, damage.at) << damage.name << ": " << run.output;
                EXPECT_GE(fault.to, damage.at) << damage.name << ": " << run.output;
                // One changed byte is found by the CRC itself.
                if (run.output.find("only the one at file offset") != std::string::npos) {
                    EXPECT_EQ(fault.offset, damage.at) << damage.name << ": " << run.output;
                    ++located;
                }
            } else {
                EXPECT_GE(fault.offset, damage.lo) << damage.name << ": " << run.output;
                EXPECT_LE(fault.offset, damage.hi) << damage.name << ": " << run.output;
            }
        }
        fs::remove_all(dir / "x");
    }
    if (step == 1) {
        EXPECT_GT(located, 0);
    }
}

}  // namespace deltapatch
