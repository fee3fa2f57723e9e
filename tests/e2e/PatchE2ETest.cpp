// End-to-end runs of the patch program on the Linux host layer: each
// scenario builds a real patch with the patch tool, lays out a game
// installation in a temporary drive C, runs the patch as a child process
// with scripted answers and checks what it showed and what it left behind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <utime.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "ChildProcess.h"
#include "Installation.h"
#include "PayloadLayout.h"
#include "RunRecord.h"
#include "SampleInstall.h"
#include "VectorFile.h"
#include "payload/LzssFormat.h"
#include "payload/LzssWriter.h"
#include "payload/PackWriter.h"
#include "payload/PatchCrc.h"
#include "payload/PatchSeal.h"
#include "framework/LittleEndian.h"
#include "pools/DefaultPools.h"
#include "Scenarios.h"
#include "LnkReader.h"
#include "TestFiles.h"
#include "Transcript.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

// The patch's sources carry one fixed time (2021-06-15 12:00 UTC), so that
// the entries' dates and with them the patch's bytes are the same in every
// run and build.
constexpr time_t kSourceTime = 1623758400;

void SetSourceTimes(const std::string& folder) {
    const utimbuf times{kSourceTime, kSourceTime};
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        ASSERT_EQ(utime(entry.path().c_str(), &times), 0) << entry.path();
}

// Offset of the first container header ("LZSS", block size 0x8000) at or
// after from.
size_t FindContainer(const std::string& bytes, size_t from) {
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data()) + from;
    const size_t at = FindPayloadHeader(data, bytes.size() - from, bytes.size() - from);
    return at == size_t(-1) ? std::string::npos : from + at;
}

// A file as the program would see it: its bytes and its attributes.
struct FileState {
    std::string bytes;
    bool readOnly = false;
    std::string dosAttributes;  // the "user.DOSATTRIB" text, empty when none
    bool operator==(const FileState& other) const {
        return bytes == other.bytes && readOnly == other.readOnly && dosAttributes == other.dosAttributes;
    }
    bool operator!=(const FileState& other) const { return !(*this == other); }
};

std::string DosAttributeText(const std::string& path) {
    char text[32];
    ssize_t length = getxattr(path.c_str(), "user.DOSATTRIB", text, sizeof text);
    return length > 0 ? std::string(text, size_t(length)) : std::string();
}

std::map<std::string, FileState> Snapshot(const std::string& folder) {
    std::map<std::string, FileState> files;
    if (!fs::exists(folder)) return files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file()) continue;
        FileState state;
        state.bytes = ReadFile(entry.path().string());
        state.readOnly = (entry.status().permissions() & fs::perms::owner_write) == fs::perms::none;
        state.dosAttributes = DosAttributeText(entry.path().string());
        files[Lower(fs::relative(entry.path(), folder).string())] = state;
    }
    return files;
}

// The folders below folder, relative to it.
std::set<std::string> Folders(const std::string& folder) {
    std::set<std::string> folders;
    if (!fs::exists(folder)) return folders;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_directory()) folders.insert(fs::relative(entry.path(), folder).string());
    return folders;
}

bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// One installation on a temporary drive C, the patch for a scenario, runs
// of it and the checks of what they leave.

std::map<std::string, const char*> Pointers(const std::map<std::string, std::string>& env) {
    std::map<std::string, const char*> pointers;
    for (const auto& [name, value] : env) pointers[name] = value.c_str();
    return pointers;
}

// The game files (lower case, '/'-separated) a killed run may or may not
// have written, as the threads' timing falls.
std::set<std::string> MayBeLeft(const Scenario& s) {
    std::set<std::string> paths;
    for (const std::string& path : s.mayBeLeft) paths.insert(Lower(Slashed(path)));
    return paths;
}

class PatchFixture {
protected:
    void Prepare(const Scenario& s) {
        root = temp.Path();
        driveC = root + "/c";
        game = HostPathOf(driveC, kGameFolder);
        programs = HostPathOf(driveC, kProgramsFolder);
        fs::remove_all(driveC);  // a fixture that prepares again starts afresh
        fs::remove_all(root + "/d");
        if (s.gameFolderLinked) {
            const fs::path link = fs::path(game).parent_path();  // game ends in a slash
            fs::create_directories(root + "/d/Quor");
            fs::create_directories(link.parent_path());
            fs::create_directory_symlink(root + "/d/Quor", link);
        } else {
            fs::create_directories(game);
        }
        fs::create_directories(programs);
        fs::create_directories(root + "/mutex");
        BuildPatch(s);
        Install(s);
    }

    void BuildPatch(const Scenario& s) {
        std::string folder = root + "/patch";
        WriteFile(folder + "/Patch.ini", PatchStrings(s));
        fs::create_directories(folder + "/Files");
        for (const FileSpec& file : s.patchFiles) WriteFile(folder + "/Files/" + Slashed(file.path), file.content);
        SetSourceTimes(folder);
        patch = root + "/QuorPatch.exe";

        if (s.layout == PayloadLayout::kMissing) {
            fs::copy_file(QP_PATCHER, patch);
            return;
        }
        if (!s.extraEntries.empty() || s.undecodableFrom || s.withoutChecksum) {
            BuildPatchWithEntries(s);
        } else if (!s.bases.empty()) {
            BuildDeltaPatch(s, folder);
        } else {
            // Most scenarios carry the same patch: the tool builds each
            // distinct folder once (its times are fixed, so the bytes are too).
            std::string key = PatchStrings(s);
            for (const FileSpec& file : s.patchFiles)
                key += '\0' + file.path + '\0' + std::to_string(file.content.size()) + '\0' + file.content;
            static std::map<std::string, std::string> built;
            auto known = built.find(key);
            if (known != built.end()) {
                WriteFile(patch, known->second);
            } else {
                // The scenarios try the patcher on faulty strings files too.
                ChildProcess tool(QP_TOOL,
                                  {"build", "--stub", QP_PATCHER, "--from", folder, "--out", patch, "--allow-errors"});
                tool.CloseStdin();
                std::string output = tool.ReadAll();
                ASSERT_EQ(tool.Wait(), 0) << output;
                built[key] = ReadFile(patch);
            }
        }
        {
            // The container starts at the first scan step behind the program,
            // so the zeros before it depend on the program's size.
            std::string bytes = ReadFile(patch);
            size_t at = FindContainer(bytes, ReadFile(QP_PATCHER).size());
            ASSERT_NE(at, std::string::npos);
            payload = bytes.substr(at);
        }
        if (s.layout == PayloadLayout::kHeaderAtBlockEnd) {
            // Move the container so that its header starts 7 bytes before a
            // scan block ends: only the blocks' overlap shows it whole.
            std::string stub = ReadFile(QP_PATCHER);
            std::string bytes = ReadFile(patch);
            size_t at = FindContainer(bytes, stub.size());
            ASSERT_NE(at, std::string::npos);
            std::string container = bytes.substr(at);
            size_t offset = (stub.size() / kScanStep + 1) * kScanStep + kScanStep - 7;
            std::string moved = stub + std::string(offset - stub.size(), '\0') + container;
            ASSERT_EQ(FindContainer(moved, 0), offset);
            ASSERT_LT(offset, moved.size() / kScanStep * kScanStep - kScanStep) << "container too small";
            WriteFile(patch, moved);
        }
        fs::permissions(patch, fs::perms::owner_all, fs::perm_options::add);
    }

    // The new game folder beside a folder per base, built with a delta for
    // each changed file and old content.
    void BuildDeltaPatch(const Scenario& s, const std::string& folder) {
        std::vector<std::string> args = {"build", "--stub", QP_PATCHER, "--strings", folder + "/Patch.ini"};
        for (const BaseSpec& base : s.bases) {
            const std::string baseFolder = folder + "/base-" + base.version;
            for (const FileSpec& file : base.files) WriteFile(baseFolder + "/" + Slashed(file.path), file.content);
            args.insert(args.end(), {"--base", base.version + "=" + baseFolder});
        }
        fs::remove_all(folder + "/new");  // a walk prepares the same scenario again
        fs::rename(folder + "/Files", folder + "/new");
        SetSourceTimes(folder);
        args.insert(args.end(), {"--from", folder + "/new", "--out", patch, "--allow-errors"});
        ChildProcess tool(QP_TOOL, args);
        tool.CloseStdin();
        std::string output = tool.ReadAll();
        ASSERT_EQ(tool.Wait(), 0) << output;
        ASSERT_NE(output.find("delta     "), std::string::npos) << output;
    }

    // Names the patch tool would never take from a folder ("..", devices):
    // the pack is written here, sealed and laid out behind the patcher as the
    // tool does (or left without its checksum entry, when the scenario says).
    void BuildPatchWithEntries(const Scenario& s) {
        std::vector<std::pair<std::string, std::string>> files = {{"PATCH.INI", PatchStrings(s)}};
        for (const FileSpec& file : s.patchFiles) files.emplace_back("FILES\\" + file.path, file.content);
        for (const PackEntry& entry : s.extraEntries) files.emplace_back(entry.name, entry.content);
        std::vector<PackWriterEntry> entries;
        for (const auto& [name, content] : files)
            entries.push_back({name.c_str(), reinterpret_cast<const uint8_t*>(content.data()), uint32_t(content.size()),
                               0x52210000u});
        uint8_t* image = nullptr;
        uint32_t imageSize = 0;
        const uint32_t count = uint32_t(entries.size());
        ASSERT_EQ(s.withoutChecksum ? BuildPackImage(entries.data(), count, &image, &imageSize)
                                    : BuildCheckedPackImage(entries.data(), count, &image, &imageSize, kPatchCrcStoredVersion),
                  nullptr);
        CVectorFile container;
        if (s.withoutChecksum) {
            ASSERT_EQ(CompressLzssImage(image, imageSize, &container, kLzssPatchBlockSize, kLzssPatchBitLengths, nullptr),
                      nullptr);
        } else {
            ASSERT_EQ(CompressSealedPatch(image, imageSize, &container, kLzssPatchBlockSize, kLzssPatchBitLengths, nullptr),
                      nullptr);
        }
        if (s.undecodableFrom) {
            const std::string text(reinterpret_cast<const char*>(image), imageSize);
            const size_t at = text.find(*s.undecodableFrom);
            ASSERT_NE(at, std::string::npos);
            SpoilBlock(container.data, 0, uint32_t(at / kLzssPatchBlockSize));
            Reseal(image, imageSize, &container.data, uint32_t(at / kLzssPatchBlockSize));
        }
        std::string stubText = ReadFile(QP_PATCHER);
        std::vector<uint8_t> stub(stubText.begin(), stubText.end());
        size_t offset = 0;
        std::vector<uint8_t> bytes = LayOutPatch(stub, std::move(container.data), image, imageSize, &offset);
        g_pDefaultPtrPool->Free(image);
        WriteFile(patch, std::string(bytes.begin(), bytes.end()));
    }

    // A publisher's fault the start-up check cannot see: the entry's stored
    // CRC taken over a container whose block k was spoiled before it was
    // summed, the tail CRC to match. The patcher checks blocks before the
    // entry's by their stored bytes alone, so block k fails only when read.
    static void Reseal(uint8_t* image, uint32_t imageSize, std::vector<uint8_t>* container, uint32_t k) {
        StoredCrcSum sum(imageSize, kLzssPatchBlockSize, kLzssPatchBitLengths);
        ASSERT_LT(k, sum.EntryBlock()) << "the spoiled block lies behind the stored CRC's reach";
        auto word = [&](uint32_t at) { return LoadU32(container->data() + at); };
        for (uint32_t j = 0; j < sum.EntryBlock(); ++j) {
            const uint32_t at = word(kLzssTableOffset + 4 * j);
            sum.AddBlock(at, container->data() + at, word(kLzssTableOffset + 4 * (j + 1)) - at);
        }
        const uint32_t covered = sum.CoveredSize();
        uint8_t* entry = image + covered;
        MakeStoredPatchCrcFields(covered, LoadU32(entry + 12),
                                 sum.StoredCrc(word(kLzssTableOffset + 4 * sum.EntryBlock())), entry);
        StoreU32(entry + kPatchCrcTailCrcOffset,
                 Crc32(image + sum.TailStart(), covered + kPatchCrcTailCrcOffset - sum.TailStart()));
        // Blocks are coded apart: compressed again, only the entry's change,
        // and block k is spoiled again the same way.
        CVectorFile again;
        ASSERT_EQ(CompressLzssImage(image, imageSize, &again, kLzssPatchBlockSize, kLzssPatchBitLengths, nullptr),
                  nullptr);
        SpoilBlock(again.data, 0, k);
        *container = std::move(again.data);
    }

    // The first token of block k of the container at offset becomes a match
    // reaching 1 byte before the block's start: the block cannot be decoded,
    // every other block still can.
    static void SpoilBlock(std::vector<uint8_t>& bytes, size_t offset, uint32_t k) {
        auto word = [&](size_t at) {
            return uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
                   uint32_t(bytes[at + 3]) << 24;
        };
        const uint32_t count = (word(offset + 4) - 1) / kLzssPatchBlockSize + 1;
        ASSERT_GT(k, 0u) << "block 0 holds the pack's directory";
        ASSERT_LT(k + 1, count) << "the last block may be stored raw";
        const size_t start = offset + word(offset + kLzssTableOffset + 4 * k);
        const size_t end = offset + word(offset + kLzssTableOffset + 4 * (k + 1));
        ASSERT_LT(end - start, kLzssPatchBlockSize) << "block " << k << " is stored raw";
        const uint8_t spoiled[4] = {0x7F, 0xFF, 0xFF, 0xFF};
        std::copy(spoiled, spoiled + 4, bytes.begin() + std::ptrdiff_t(start));
    }

    void Install(const Scenario& s) {
        ASSERT_EQ(WriteGameFolder(s, game), "");
        if (s.localPack.kind == PackKind::kGarbage) {
            WriteFile(game + "/packs/local.wdt", std::string(3000, 'x'));
        } else if (s.localPack.kind != PackKind::kNone) {
            std::vector<uint8_t> bytes;
            std::string error;
            auto format = s.localPack.kind == PackKind::kBlockFile ? sample::LocalPackFormat::kBlockFile
                                                                    : sample::LocalPackFormat::kPackFile;
            ASSERT_TRUE(sample::BuildLocalPack(format, s.localPack.compressed,
                                               sample::LanguageFiles(s.localPack.language, s.localPack.peon), &bytes,
                                               &error))
                << error;
            if (s.localPackBlockSize) {
                ASSERT_TRUE(s.localPack.compressed && bytes.size() > 12);
                for (int i = 0; i < 4; ++i) bytes[8 + i] = uint8_t(*s.localPackBlockSize >> (8 * i));
            }
            WriteFile(game + "/packs/local.wdt", std::string(bytes.begin(), bytes.end()));
        }
        registry = root + "/registry.reg";
        WriteFile(registry, RegistryText(s));
        for (const std::string& folder : s.programsFolders) fs::create_directories(programs + "/" + Slashed(folder));
        for (const std::string& file : s.programsFiles) WriteFile(programs + "/" + Slashed(file), "not a folder\n");
        before = installed = Snapshot(game);
        installedFolders = Folders(game);
        driveBefore = Snapshot(driveC);
    }

    std::map<std::string, std::string> Environment(const Scenario& s) const {
        std::string answers;
        for (const std::string& answer : s.answers) answers += (answers.empty() ? "" : ",") + answer;
        std::map<std::string, std::string> env = {
            {"W32_DRIVE_C", driveC},          {"W32_REGISTRY_FILE", registry},
            {"W32_TRANSCRIPT", root + "/transcript.jsonl"}, {"W32_ANSWERS", answers},
            {"W32_MUTEX_DIR", root + "/mutex"}, {"W32_PROGRAMS_DIR", kProgramsFolder},
            {"SystemDrive", "C:"},  // as Windows sets it, for expandable registry paths
        };
        if (!s.faultWrite.empty()) env["W32_FAULT_WRITE"] = Replace(s.faultWrite, "{game}", game);
        if (!s.faultOpen.empty()) env["W32_FAULT_OPEN"] = Replace(s.faultOpen, "{game}", game);
        if (!s.faultKill.empty()) env["W32_FAULT_KILL"] = Replace(s.faultKill, "{game}", game);
        if (!s.faultMove.empty()) env["W32_FAULT_MOVE"] = Replace(s.faultMove, "{game}", game);
        if (!s.faultFlush.empty()) env["W32_FAULT_FLUSH"] = Replace(s.faultFlush, "{game}", game);
        if (!s.faultSpace.empty()) env["W32_FAULT_SPACE"] = s.faultSpace;
        if (s.faultThread) env["W32_FAULT_THREAD"] = "1";
        if (s.threadsThatStart >= 0) env["W32_FAULT_THREAD"] = "1000000:" + std::to_string(s.threadsThatStart);
        if (s.faultDialog) env["W32_FAULT_DIALOG"] = "1";
        if (!s.faultMutex.empty()) env["W32_FAULT_MUTEX"] = s.faultMutex;
        if (!s.faultRegistry.empty()) env["W32_FAULT_REGISTRY"] = s.faultRegistry;
        if (!s.commandLine.empty())
            env["W32_COMMAND_LINE"] = Replace(Replace(s.commandLine, "{patch}", patch), "{bare}", QP_PATCHER);
        if (!s.faultPower.empty()) env["W32_FAULT_POWER"] = s.faultPower;
        if (s.gameFolderLinked) env["W32_DRIVE_D"] = root + "/d";
        return env;
    }

    void CheckFiles(const Scenario& s) {
        std::map<std::string, FileState> after = Snapshot(game);
        // Nothing half-written is ever left beside a game file, but what a
        // killed run left behind.
        const std::set<std::string> mayBeLeft = MayBeLeft(s);
        std::vector<std::string> partial;
        for (const auto& [path, state] : after)
            if (EndsWith(path, ".~qp") && !mayBeLeft.count(path)) partial.push_back(path);
        std::vector<std::string> leftovers;
        for (const std::string& path : s.leftovers) leftovers.push_back(Lower(Slashed(path)));
        EXPECT_EQ(partial, leftovers);
        // Kept old files and the journal go with the run that finishes or
        // undoes them; only a killed one leaves them. (A game's own file of a
        // kept file's name is checked with the other game files.)
        for (const auto& [path, state] : after) {
            if (s.exitCode != kKilled) {
                EXPECT_FALSE((EndsWith(path, ".~qo") && !installed.count(path)) || path == "quorpatch.~qj")
                    << path << " was left";
            }
        }
        // A folder the run made stays only with something in it (a killed
        // run may be stopped while the worker makes the next batch's folders
        // and the flush helper flushes the last: the next run undoes those).
        for (const std::string& folder : Folders(game))
            EXPECT_TRUE(s.exitCode == kKilled || foldersBefore.count(folder) || !fs::is_empty(game + "/" + folder))
                << folder << " was made and left empty";
        CheckOutsideTheGameFolder(s);
        // Undone: every byte, attribute and folder as it was, and nothing of
        // the run left (its kept old files and journal included).
        if (s.asInstalled || (s.updateRan && s.exitCode == -1)) {
            EXPECT_TRUE(after == (s.asInstalled ? installed : before)) << "the game folder is not as it was";
            EXPECT_EQ(Folders(game), s.asInstalled ? installedFolders : foldersBefore);
            return;
        }
        if (!s.updateRan && !s.sweeps) {
            EXPECT_TRUE(after == before) << "the game folder changed";
            return;
        }
        // Game files the patch does not carry: removed, or as they were.
        for (const FileSpec& file : s.gameFiles) {
            const std::string relative = Lower(Slashed(file.path));
            const bool carried = std::any_of(s.patchFiles.begin(), s.patchFiles.end(),
                                             [&](const FileSpec& p) { return Lower(Slashed(p.path)) == relative; });
            const bool removed = std::find(s.removed.begin(), s.removed.end(), file.path) != s.removed.end();
            if (carried) continue;
            if (removed) {
                EXPECT_EQ(after.count(relative), 0u) << relative << " was not removed";
            } else if (before.count(relative)) {
                EXPECT_TRUE(after.count(relative) && after.at(relative) == before.at(relative)) << relative << " changed";
            }
        }
        for (const std::string& folder : s.removed) {
            if (EndsWith(folder, "\\")) {
                EXPECT_FALSE(fs::exists(game + "/" + Slashed(folder))) << folder << " stays";
            }
        }
        for (const FileSpec& file : s.patchFiles) {
            std::string relative = Lower(Slashed(file.path));
            bool skipped = std::find(s.notCopied.begin(), s.notCopied.end(), file.path) != s.notCopied.end();
            auto now = after.find(relative);
            auto then = before.find(relative);
            if (!skipped) {
                ASSERT_NE(now, after.end()) << relative << " was not copied";
                EXPECT_TRUE(now->second.bytes == file.content) << relative << " differs from the patch";
                EXPECT_FALSE(now->second.readOnly) << relative << " left read-only";
                EXPECT_EQ(now->second.dosAttributes, "") << relative << " kept hidden or system";
                continue;
            }
            // Skipped: exactly as before, bytes and attributes; still missing
            // when it was missing.
            if (then == before.end()) {
                EXPECT_EQ(now, after.end()) << relative << " should still be missing";
            } else {
                ASSERT_NE(now, after.end()) << relative << " was lost";
                EXPECT_TRUE(now->second == then->second) << relative << " is no longer the old file";
            }
        }
    }

    // Runs the patch once with the scenario's answers and faults and checks
    // boxes, dialog, files, registry and shortcuts.
    void RunAndCheck(const Scenario& s) {
        for (const FileSpec& file : s.restoreBefore) WriteFile(game + "/" + Slashed(file.path), file.content);
        before = Snapshot(game);
        foldersBefore = Folders(game);
        driveBefore = Snapshot(driveC);
        fs::remove(root + "/transcript.jsonl");
        std::map<std::string, std::string> env = Environment(s);
        std::unique_ptr<ChildProcess> runningGame;
        if (s.gameRunning) {
            runningGame = std::make_unique<ChildProcess>(QP_STANDIN_GAME, std::vector<std::string>{"Quor_Kingsfall_Ver_01"},
                                                         Pointers(env));
            std::string line;
            ASSERT_TRUE(runningGame->ReadLine(&line) && line == "ready") << "the stand-in game did not take its mutex";
        }
        std::string registryBefore = ReadFile(registry);

        ChildProcess run(patch, {}, Pointers(env));
        run.CloseStdin();
        std::string output = run.ReadAll();
        const int exitCode = SignedExit(run.Wait());
        EXPECT_EQ(exitCode, s.exitCode) << output;
        if (record) {
            // A killed run's journal holds as many lines as the worker wrote
            // while the flush helper was stopped: timing, not outcome.
            std::set<std::string> timingDependent = MayBeLeft(s);
            if (s.exitCode == kKilled) timingDependent.insert("quorpatch.~qj");
            RecordRun(s.name, {root, payload, exitCode, output, root + "/transcript.jsonl", game, registry, programs,
                               timingDependent});
        }

        std::vector<TranscriptRecord> events = ReadTranscript(root + "/transcript.jsonl");
        std::vector<Box> boxes;
        bool dialogShown = false, dialogEnded = false;
        std::string dialogCaption, dialogText;
        for (const TranscriptRecord& event : events) {
            if (event.call == "MessageBoxA") boxes.push_back({event.caption, event.text, int(event.type), event.answer});
            if (event.call == "DialogBoxParamA") dialogShown = true;
            if (event.call == "SetWindowTextA") dialogCaption = event.text;
            if (event.call == "SetDlgItemTextA") dialogText = event.text;
            if (event.call == "EndDialog") dialogEnded = true;
        }
        ASSERT_EQ(boxes.size(), s.boxes.size()) << output;
        for (size_t i = 0; i < boxes.size(); ++i) {
            EXPECT_EQ(boxes[i].caption, s.boxes[i].caption) << "box " << i;
            EXPECT_EQ(boxes[i].text, s.boxes[i].text) << "box " << i;
            EXPECT_EQ(boxes[i].type, s.boxes[i].type) << "box " << i;
            EXPECT_EQ(boxes[i].answer, s.boxes[i].answer) << "box " << i;
        }
        EXPECT_EQ(dialogShown, s.updateRan && !s.unseen);
        if (dialogShown) {
            EXPECT_EQ(dialogCaption, "QUOR Patch");
            EXPECT_EQ(dialogText, "Updating QUOR. Please, wait...");
            // The worker ends the dialog, after an Abort too: the main thread
            // then ends the process. Only a run killed before its commit
            // leaves it shown.
            EXPECT_EQ(dialogEnded, s.exitCode != kKilled || bool(s.versionAfter));
        }

        CheckFiles(s);
        CheckLog(s);
        std::string registryAfter = ReadFile(registry);
        using sample::RegistryView;
        if (s.versionAfter)
            EXPECT_EQ(sample::RegistryGameVersion(registryAfter, RegistryView::k32Bit), s.versionAfter);
        else
            EXPECT_EQ(sample::RegistryGameVersion(registryAfter, RegistryView::k32Bit),
                      sample::RegistryGameVersion(registryBefore, RegistryView::k32Bit));
        EXPECT_EQ(sample::RegistryGameVersion(registryAfter, RegistryView::k64Bit),
                  sample::RegistryGameVersion(registryBefore, RegistryView::k64Bit));
        CheckShortcuts(s);
    }

    // The log's lines, each without its leading time ("12:00:00.000 ").
    void CheckLog(const Scenario& s) {
        if (s.logLines.empty()) return;
        std::istringstream text(ReadFile(driveC + "/patch.log"));
        std::vector<std::string> lines;
        for (std::string line; std::getline(text, line);) {
            ASSERT_GT(line.size(), 14u) << line;
            ASSERT_EQ(line.back(), '\r') << "lines end in CR LF";
            lines.push_back(line.substr(13, line.size() - 14));
        }
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines[0].rfind("QUOR Patch started ", 0), 0u) << lines[0];
        EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end()), s.logLines);
    }

    // The patch writes below the game folder and links below Programs only
    // (and its log where a scenario asks for one).
    void CheckOutsideTheGameFolder(const Scenario& s) {
        std::map<std::string, FileState> after = Snapshot(driveC);
        std::string gamePrefix = Lower(fs::relative(game, driveC).string()) + "/";
        std::string programsPrefix = Lower(fs::relative(programs, driveC).string()) + "/";
        for (const auto& [path, state] : after) {
            auto then = driveBefore.find(path);
            if (then != driveBefore.end() && then->second == state) continue;
            bool allowed = path.rfind(gamePrefix, 0) == 0 ||
                           (path.rfind(programsPrefix, 0) == 0 && EndsWith(path, ".lnk")) ||
                           (path == "patch.log" && !s.logLines.empty());
            EXPECT_TRUE(allowed) << path << " was written outside the game folder";
        }
        for (const auto& [path, state] : driveBefore) {
            if (path.rfind(gamePrefix, 0) != 0) {
                EXPECT_TRUE(after.count(path)) << path << " was removed";
            }
        }
        // Nothing beside drive C either.
        for (const auto& entry : fs::directory_iterator(root)) {
            std::string name = entry.path().filename().string();
            EXPECT_TRUE(name == "c" || name == "d" || name == "patch" || name == "mutex" || name == "QuorPatch.exe" ||
                        name == "registry.reg" || name == "transcript.jsonl")
                << name << " appeared beside the drive";
        }
    }

    void CheckShortcuts(const Scenario& s) {
        std::vector<std::string> found;
        for (const auto& entry : fs::recursive_directory_iterator(programs))
            if (entry.path().extension() == ".lnk") found.push_back(fs::relative(entry.path(), programs).string());
        std::vector<std::string> expected;
        for (const std::string& link : s.shortcuts) expected.push_back(Slashed(link));
        std::sort(found.begin(), found.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(found, expected);
        for (const std::string& link : found) {
            const LnkFile strings = ReadLnkFile(programs + "/" + link);
            ASSERT_TRUE(strings.valid) << link << " is no shell link: " << strings.error;
            EXPECT_EQ(strings.description, "Orvandel Gaming Service");
            EXPECT_EQ(strings.workingDirectory, std::string(kGameFolder) + "zln");
            EXPECT_EQ(strings.iconLocation, std::string(kGameFolder) + "zln\\zavovudiz.exe");
            EXPECT_EQ(strings.iconIndex, 0);
        }
    }

    bool record = true;  // the run's outcome goes to QP_E2E_RECORD, for comparing the widths
    TempDir temp{"e2e"};
    std::string root, driveC, game, programs, registry, patch;
    std::string payload;  // the container appended to the program
    std::map<std::string, FileState> before, driveBefore, installed;
    std::set<std::string> foldersBefore, installedFolders;
};

class PatchRun : public PatchFixture, public ::testing::TestWithParam<Scenario> {
protected:
    void SetUp() override { Prepare(GetParam()); }
};

TEST_P(PatchRun, ShowsAndLeavesWhatItShould) { RunAndCheck(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Scenarios, PatchRun, ::testing::ValuesIn(AllScenarios()),
                         [](const ::testing::TestParamInfo<Scenario>& param) { return param.param.name; });

// A run stopped anywhere in a batch (killed writing it, once it is flushed,
// between its moves, in the flush after them) leaves every file old or new,
// the temporary files not yet moved in and the version unrecorded; a delta
// patch stopped in the middle (killed, or aborted at a modified file that is
// then restored) likewise. The next run undoes it before its first question:
// declined, it leaves the game as installed; accepted, it completes.
std::vector<std::pair<Scenario, Scenario>> StoppedThenRunAgain() {
    auto pairs = KilledThenRunAgain();
    for (auto& pair : DeltaRunsAfterAStop()) pairs.push_back(pair);
    return pairs;
}

class RunAfterAStop : public PatchFixture, public ::testing::TestWithParam<size_t> {};

TEST_P(RunAfterAStop, FindsEveryFileWholeAndLeavesNoTemporaryFile) {
    const auto [stopped, again] = StoppedThenRunAgain().at(GetParam());
    SCOPED_TRACE(stopped.name);
    Prepare(stopped);
    RunAndCheck(stopped);
    ASSERT_FALSE(HasFatalFailure());
    if (stopped.versionAfter) {
        RunAndCheck(again);  // committed: declined, it only sweeps
        return;
    }
    Scenario declined = stopped;
    declined.name += "ThenDeclined";
    declined.faultKill = declined.faultMove = declined.faultFlush = declined.faultOpen = declined.faultWrite = "";
    declined.faultSpace = "";
    declined.answers = {"no"};
    declined.boxes = {stopped.boxes.front()};
    declined.boxes.front().answer = "no";
    declined.exitCode = -1;
    declined.updateRan = false;
    declined.asInstalled = true;
    declined.leftovers = declined.mayBeLeft = {};
    declined.versionAfter.reset();
    declined.shortcuts = {};
    RunAndCheck(declined);
    ASSERT_FALSE(HasFatalFailure());
    RunAndCheck(again);
}

INSTANTIATE_TEST_SUITE_P(Points, RunAfterAStop, ::testing::Range(size_t(0), StoppedThenRunAgain().size()),
                         [](const ::testing::TestParamInfo<size_t>& param) {
                             return StoppedThenRunAgain().at(param.param).first.name;
                         });

// The power goes at each durability event of a run in turn (every flush,
// move and close of a written file), in the model's two worst ways: every
// change of names kept with the bytes not flushed lost (a move whose file was
// not flushed tears its target), or every change not yet durable undone.
// Each file is then old or new, never torn, also after the next run that
// the player declines; the run after that, accepted, completes.
struct PowerWalk {
    size_t patch;      // of PowerCutPatches()
    const char* mode;  // "" or ":drop" (W32_FAULT_POWER)
    // After the declined run, the whole game is old or new, never a mix,
    // its version with it: the patcher rolls back an interrupted patch
    // before it asks anything.
    bool wholeGame = true;
};

class PowerCutWalk : public PatchFixture, public ::testing::TestWithParam<PowerWalk> {
protected:
    // Runs the patch with the scenario's answers and faults; its exit code.
    int RunOnly(const Scenario& s) {
        ChildProcess run(patch, {}, Pointers(Environment(s)));
        run.CloseStdin();
        run.ReadAll();
        return SignedExit(run.Wait());
    }

    // Every patch file holds its old bytes and attributes or its new ones;
    // with wholeGame, all of them old with the old version or all new with
    // the new one.
    void CheckOldOrNew(const Scenario& s, const std::map<std::string, FileState>& atStart, bool wholeGame) {
        std::map<std::string, FileState> after = Snapshot(game);
        bool allOld = true, allNew = true;
        for (const FileSpec& file : s.patchFiles) {
            const std::string relative = Lower(Slashed(file.path));
            auto now = after.find(relative);
            auto then = atStart.find(relative);
            const bool isNew = now != after.end() && now->second == FileState{file.content, false, ""};
            // An old file kept beside its target until the commit, which the
            // next run puts back.
            auto kept = after.find(relative + ".~qo");
            const bool isOld = then == atStart.end() ? now == after.end()
                               : now != after.end()   ? now->second == then->second
                                                      : kept != after.end() && kept->second == then->second;
            EXPECT_TRUE(isNew || isOld) << relative << " is torn: neither its old nor its new bytes and attributes";
            allOld = allOld && isOld;
            allNew = allNew && isNew;
        }
        // A removed file is there with its old bytes and attributes (or kept
        // beside its name), or gone.
        for (const std::string& removed : s.removed) {
            const std::string relative = Lower(Slashed(removed));
            if (EndsWith(removed, "\\") || !atStart.count(relative)) continue;
            auto now = after.find(relative);
            auto kept = after.find(relative + ".~qo");
            const bool isNew = now == after.end();
            const bool isOld = isNew ? kept != after.end() && kept->second == atStart.at(relative)
                                     : now->second == atStart.at(relative);
            EXPECT_TRUE(isNew || isOld) << relative << " is neither removed nor as it was";
            allOld = allOld && isOld;
            allNew = allNew && isNew;
        }
        if (!wholeGame) return;
        const std::optional<uint32_t> version =
            sample::RegistryGameVersion(ReadFile(registry), sample::RegistryView::k32Bit);
        allOld = allOld && version == s.gameVersion;
        allNew = allNew && version == s.versionAfter;
        EXPECT_TRUE(allOld || allNew) << "a mix of old and new files, version " << version.value_or(0);
    }
};

TEST_P(PowerCutWalk, EveryCutLeavesEachFileOldOrNew) {
    const PowerWalk& walk = GetParam();
    const Scenario accepted = PowerCutPatches().at(walk.patch);
    // The m32 and sanitizer stages walk a spread of the cut points.
    const char* every = std::getenv("QP_POWER_CUT_EVERY");
    const int step = every && std::atoi(every) > 0 ? std::atoi(every) : 1;
    int cuts = 0;
    for (int n = 1;; n += step) {
        SCOPED_TRACE("the power goes at event " + std::to_string(n));
        Scenario cut = accepted;
        cut.faultPower = std::to_string(n) + walk.mode;
        Prepare(cut);
        const std::map<std::string, FileState> atStart = Snapshot(game);
        const int exitCode = RunOnly(cut);
        if (exitCode == accepted.exitCode) break;  // the run ended before its n-th event: every point is walked
        ASSERT_EQ(exitCode, kKilled);
        ++cuts;
        CheckOldOrNew(accepted, atStart, false);
        // The declined run finds what the cut left; a run that rolls back an
        // interrupted patch does so before it asks.
        Scenario declined = accepted;
        declined.answers = {"no"};
        ASSERT_EQ(RunOnly(declined), -1);
        CheckOldOrNew(accepted, atStart, walk.wholeGame);
        // A cut after the version was recorded leaves the new version.
        Scenario again = accepted;
        // Recorded once, after the first cut, which every stage walks.
        again.name += *walk.mode ? "AfterAPowerCutUndoing" : "AfterAPowerCut";
        record = n == 1;
        if (sample::RegistryGameVersion(ReadFile(registry), sample::RegistryView::k32Bit) == accepted.versionAfter)
            again.boxes[0].text = Replace(again.boxes[0].text, "installed: 1.0" + std::to_string(*accepted.gameVersion & 0xFF),
                                          "installed: 1.05");
        RunAndCheck(again);
        if (HasFailure()) break;  // the first torn point tells enough
    }
    EXPECT_GE(cuts * step, 12) << "too few cut points: the walk misses the model";
}

INSTANTIATE_TEST_SUITE_P(Points, PowerCutWalk,
                         ::testing::Values(PowerWalk{0, ""}, PowerWalk{0, ":drop"}, PowerWalk{1, ""},
                                           PowerWalk{1, ":drop"}, PowerWalk{2, ""}, PowerWalk{2, ":drop"},
                                           PowerWalk{3, ""}, PowerWalk{3, ":drop"}, PowerWalk{4, ""},
                                           PowerWalk{4, ":drop"}, PowerWalk{5, ""}, PowerWalk{5, ":drop"}),
                         [](const ::testing::TestParamInfo<PowerWalk>& param) {
                             return PowerCutPatches().at(param.param.patch).name +
                                    (*param.param.mode ? "UndoingWhatIsNotDurable" : "KeepingEveryMove");
                         });

TEST(SamplePatch, ShipsTheStringsExactly) {
    EXPECT_EQ(ReadFile(QP_EXAMPLES "/sample-patch/Patch.ini"), ShippedStrings());
}

}  // namespace
}  // namespace e2e
