#include "Scenarios.h"

#include "CrcForge.h"
#include "DeltaEncode.h"
#include "payload/DeltaKey.h"

#include <cstdio>
#include <cstring>
#include <utility>

namespace e2e {

const char kGameFolder[] = "C:\\Games\\Quor\\";
const char kProgramsFolder[] = "C:\\Menu\\Programs";
const char kGameKey[] = "SOFTWARE\\Orvandel\\Quor";

namespace {

const std::vector<std::pair<std::string, std::string>>& ShippedKeys() {
    static const std::vector<std::pair<std::string, std::string>> keys = {
        {"ver", "10005"},
        {"vermin", "10001"},
        {"welcome", "This will upgrade QUOR to version 1.05. Do you want to continue?"},
        {"welcome2",
         "This program will upgrade QUOR to version 1.05. Do you want to continue?|| QUOR version installed: "
         "%d.%02d | QUOR instalation folder: %s"},
        {"title", "QUOR Patch"},
        {"noquor", "QUOR not found! Please reinstall the game and try again!"},
        {"quorrun", "You are running QUOR. Please quit the game and restart the patch!"},
        {"noneed", "You can't update your copy of QUOR because you have a more recent version!"},
        {"done", "QUOR was updated to version 1.05 successfuly!"},
        {"copy", "Updating QUOR. Please, wait..."},
        {"wronglang", "This patch is for the english version of QUOR only!"},
        {"errcopy", "Error while trying to copy %s"},
        {"errnotcomplete", "QUOR update was NOT completed successfuly!"},
        {"errvermin", "QUOR version 1.01 required!"},
        {"zln_name", "Orvandel Gaming Service"},
        {"zln_shortcut", "1"},
    };
    return keys;
}

const char kTitle[] = "QUOR Patch";
const char kWelcome[] = "This will upgrade QUOR to version 1.05. Do you want to continue?";

// "welcome2" as shown: '|' became line feeds, then the three arguments.
std::string Welcome2(const char* version, const char* folder) {
    return std::string("This program will upgrade QUOR to version 1.05. Do you want to continue?\n\n QUOR version "
                       "installed: ") +
           version + " \n QUOR instalation folder: " + folder;
}

Box WelcomeBox(const std::string& answer) { return {kTitle, kWelcome, kYesNoInformation, answer}; }
Box Welcome2Box(const char* version, const std::string& answer) {
    return {kTitle, Welcome2(version, kGameFolder), kYesNoInformation, answer};
}
Box Fatal(const char* text) { return {kTitle, text, kOkError, "ok"}; }
Box Plain(const char* text) { return {kTitle, text, kOkPlain, "ok"}; }
// The pack keeps its names upper-cased, and so shows them.
Box CopyError(const char* relative, const std::string& answer) {
    return {"Error", std::string("Error while trying to copy ") + relative, kAbortRetryIgnoreQuestion, answer};
}

const char kNoQuor[] = "QUOR not found! Please reinstall the game and try again!";
const char kQuorRun[] = "You are running QUOR. Please quit the game and restart the patch!";
const char kNoNeed[] = "You can't update your copy of QUOR because you have a more recent version!";
const char kErrVerMin[] = "QUOR version 1.01 required!";
const char kWrongLang[] = "This patch is for the english version of QUOR only!";
const char kDone[] = "QUOR was updated to version 1.05 successfuly!";
const char kNotComplete[] = "QUOR update was NOT completed successfuly!";
const char kShortcut[] = "Orvandel Gaming Service.lnk";

std::string Bytes(size_t count, uint32_t seed) {
    std::string data(count, '\0');
    for (size_t i = 0; i < count; ++i) {
        seed = seed * 1103515245u + 12345u;
        data[i] = char(seed >> 23);
    }
    return data;
}

// An installed 1.01 game, found through the registry, and a patch of the
// default tree: the base of every scenario.
Scenario Installed(const std::string& name) {
    Scenario s;
    s.name = name;
    s.patchFiles = DefaultPatchFiles();
    s.registryPath = kGameFolder;
    s.gameVersion = 0x10001;
    s.gameFiles = {{"readme.txt", "QUOR 1.01\r\n"}, {"maps\\kingsfall.map", Bytes(5000, 7)}};
    return s;
}

Scenario Complete(const std::string& name) {
    Scenario s = Installed(name);
    s.answers = {"yes", "ok"};
    s.boxes = {Welcome2Box("1.01", "yes"), Plain(kDone)};
    s.updateRan = true;
    s.versionAfter = 0x10005;
    s.shortcuts = {kShortcut};
    return s;
}

// More files than one batch holds (512): 1024 voices added to the default
// tree. The worker writes them between README.TXT and zln\, so the batches
// are entries 0-511, 512-1023 and the last six.
constexpr size_t kVoices = 1024;

std::string VoicePath(size_t i) {
    char path[32];
    std::snprintf(path, sizeof path, "voices\\v%04u.snd", unsigned(i));
    return path;
}

Scenario WithVoices(Scenario s) {
    for (size_t i = 0; i < kVoices; ++i) s.patchFiles.push_back({VoicePath(i), "voice " + std::to_string(i)});
    return s;
}

// The patch's game files in the order the worker writes and moves them in.
std::vector<std::string> WriteOrder(bool voices) {
    std::vector<std::string> order = {"empty.dat", "exact.bin", "maps\\campaign\\intro.txt", "maps\\kingsfall.map",
                                      "readme.txt"};
    for (size_t i = 0; voices && i < kVoices; ++i) order.push_back(VoicePath(i));
    order.push_back("zln\\zavovudiz.exe");
    return order;
}

Scenario Stopped(const std::string& name, const char* version, const char* fatal) {
    Scenario s = Installed(name);
    s.answers = {"yes", "ok"};
    s.boxes = {Welcome2Box(version, "yes"), Fatal(fatal)};
    s.exitCode = -1;
    return s;
}

const char kMap[] = "MAPS\\KINGSFALL.MAP";
const char kMapPath[] = "maps\\kingsfall.map";

// Every way a copy fails, with every answer: the map's old bytes and
// attributes stay (it is read-only and system before the run) unless a
// retry puts the whole new file in place.
std::vector<Scenario> CopyFailures() {
    struct Failure {
        const char* name;
        std::string faultOpen, faultWrite, faultMove, faultFlush;
    };
    const Failure failures[] = {
        {"OpenFails", "KINGSFALL.MAP.~qp:5:1", "", "", ""},
        {"WriteFailsAfter1000Bytes", "", "KINGSFALL.MAP.~qp:1000:fail:1", "", ""},
        {"DiskFullInTheSecondPiece", "", "KINGSFALL.MAP.~qp:33000:full:1", "", ""},
        // The old map cannot be set aside to make room for the new one.
        {"ReplaceFails", "", "", "KINGSFALL.MAP.~qo:5:1", ""},
        // The batch's volume flush fails, then the map's own flush.
        {"FlushFails", "", "", "", "\\\\.\\C:1117:1;KINGSFALL.MAP.~qp:112:1"},
    };
    std::vector<Scenario> all;
    for (const Failure& failure : failures) {
        for (const char* answer : {"abort", "retry", "ignore"}) {
            Scenario s = Installed(std::string(failure.name) + "Then" + char(answer[0] - 'a' + 'A') + (answer + 1));
            s.gameFiles[1].readOnly = true;
            s.gameFiles[1].dosAttributes = 0x4;
            s.faultOpen = failure.faultOpen;
            s.faultWrite = failure.faultWrite;
            s.faultMove = failure.faultMove;
            s.faultFlush = failure.faultFlush;
            s.updateRan = true;
            s.answers = {"yes", answer, "ok"};
            s.boxes = {Welcome2Box("1.01", "yes"), CopyError(kMap, answer)};
            if (std::string(answer) == "abort") {
                s.boxes.push_back(Fatal(kNotComplete));
                s.exitCode = -1;
                s.notCopied = {kMapPath, "readme.txt", "zln\\zavovudiz.exe"};
            } else if (std::string(answer) == "retry") {
                s.boxes.push_back(Plain(kDone));
                s.versionAfter = 0x10005;
                s.shortcuts = {kShortcut};
            } else {
                s.boxes.push_back(Plain(kNotComplete));
                s.notCopied = {kMapPath};
            }
            all.push_back(s);
        }
    }
    {
        // Read-only, hidden and system targets are all replaced, and have
        // normal attributes afterwards.
        Scenario s = Complete("GuardedTargetsAreReplaced");
        s.gameFiles = {{"readme.txt", "QUOR 1.01\r\n", false, 0x2},
                       {"maps\\kingsfall.map", Bytes(5000, 7), false, 0x4},
                       {"exact.bin", "old", true, 0x6},
                       {"zln\\zavovudiz.exe", "old client", true, 0}};
        all.push_back(s);
    }
    {
        // The first batch's volume flush fails while the second batch is
        // written, then the map's own flush: Abort leaves the files before
        // the map moved in, and the second batch's temporary files go too.
        Scenario s = WithVoices(Installed("FirstOfThreeBatchFlushesFailsThenAbort"));
        s.faultFlush = "\\\\.\\C:1117:1;KINGSFALL.MAP.~qp:112:1";
        s.updateRan = true;
        s.answers = {"yes", "abort", "ok"};
        s.boxes = {Welcome2Box("1.01", "yes"), CopyError(kMap, "abort"), Fatal(kNotComplete)};
        s.exitCode = -1;
        const std::vector<std::string> order = WriteOrder(true);
        s.notCopied.assign(order.begin() + 3, order.end());
        all.push_back(s);
    }
    {
        // No thread for the batches' flushes: each batch is flushed and moved
        // in before the next is written.
        Scenario s = WithVoices(Complete("NoFlushThreadCopiesBatchByBatch"));
        s.threadsThatStart = 1;
        all.push_back(s);
    }
    {
        // Every batch's helpers start, but only some of the sweep's: the
        // kept old files of the parts left without a thread go all the same.
        Scenario s = WithVoices(Complete("SweepWithSomeOfItsThreadsRefused"));
        s.threadsThatStart = 5;
        all.push_back(s);
    }
    {
        // A file of the second batch cannot be written while the first
        // batch's flush may still run: the files before it are moved in
        // before the box, and stay on Abort.
        Scenario s = WithVoices(Installed("AbortWhileTheFirstBatchMayBeFlushing"));
        s.faultOpen = "V0600.SND.~qp:5:1";
        s.updateRan = true;
        s.answers = {"yes", "abort", "ok"};
        s.boxes = {Welcome2Box("1.01", "yes"), CopyError("VOICES\\V0600.SND", "abort"), Fatal(kNotComplete)};
        s.exitCode = -1;
        const std::vector<std::string> order = WriteOrder(true);
        s.notCopied.assign(order.begin() + 5 + 600, order.end());
        all.push_back(s);
    }
    for (const char* answer : {"abort", "retry", "ignore", "abort without threads"}) {
        // A move refused in the middle of the first batch, where the flush's
        // helper thread moves it in (or, without threads, the worker): the
        // box comes in file order once the helper is done; Abort leaves the
        // files before it moved in and none after it.
        const std::string last = std::string(answer).substr(0, std::string(answer).find(' '));
        const bool threads = std::strchr(answer, 'w') == nullptr;
        Scenario s = WithVoices(Installed(std::string("MoveRefusedInTheFirstBatchThen") + char(last[0] - 'a' + 'A') +
                                          last.substr(1) + (threads ? "" : "WithoutThreads")));
        s.faultMove = "V0300.SND:5:1";
        s.threadsThatStart = threads ? -1 : 1;
        s.updateRan = true;
        s.answers = {"yes", last, "ok"};
        s.boxes = {Welcome2Box("1.01", "yes"), CopyError("VOICES\\V0300.SND", last)};
        const std::vector<std::string> order = WriteOrder(true);
        if (last == "abort") {
            s.boxes.push_back(Fatal(kNotComplete));
            s.exitCode = -1;
            s.notCopied.assign(order.begin() + 5 + 300, order.end());
        } else if (last == "retry") {
            s.boxes.push_back(Plain(kDone));
            s.versionAfter = 0x10005;
            s.shortcuts = {kShortcut};
        } else {
            s.boxes.push_back(Plain(kNotComplete));
            s.notCopied = {VoicePath(300)};
        }
        all.push_back(s);
    }
    {
        // The worker cannot be started: the dialog still ends, and nothing is
        // copied or recorded.
        Scenario s = Installed("WorkerThreadCannotStart");
        s.faultThread = true;
        s.answers = {"yes", "ok"};
        s.boxes = {Welcome2Box("1.01", "yes"), Plain(kNotComplete)};
        s.updateRan = true;
        for (const FileSpec& file : s.patchFiles) s.notCopied.push_back(file.path);
        all.push_back(s);
    }
    return all;
}

// Pack entries and shortcut names that would write outside their folders,
// or as names Windows would not create: reported, never written.
std::vector<Scenario> ConfinedWrites() {
    std::vector<Scenario> all;
    for (bool committed : {false, true}) {
        // A journal beside the game (damaged, or planted) whose lines climb
        // out of the game folder and back: the next run follows none of
        // them, and the journal goes. Committed, enough of them that the
        // sweep cuts them into all its parts, and the game's own files of
        // the names a sweep deletes stay.
        Scenario s = Installed(committed ? "CommittedJournalClimbingOutOfTheGameFolder"
                                         : "JournalClimbingOutOfTheGameFolder");
        std::string journal = "QPJ 00010001 00010005\r\n";
        if (committed) {
            for (int line = 0; line < 40; ++line)
                journal += "F1 ..\\Quor\\readme.txt\r\nX ..\\..\\Games\\Quor\\maps\\kingsfall.map\r\n";
            journal += "C\r\n";
            s.gameFiles.push_back({"readme.txt.~qo", "the game's own\r\n"});
            s.gameFiles.push_back({"maps\\kingsfall.map.~qo", "the game's own\r\n"});
        } else {
            journal += "F0 ..\\Quor\\maps\\kingsfall.map\r\nF0 ..\\Quor\\readme.txt\r\nD ..\\..\\Games\r\n";
        }
        s.gameFiles.push_back({"QuorPatch.~qj", journal});
        s.answers = {"no"};
        s.boxes = {Welcome2Box("1.01", "no")};
        s.exitCode = -1;
        s.sweeps = true;
        s.removed = {"QuorPatch.~qj"};
        for (const FileSpec& file : s.patchFiles) s.notCopied.push_back(file.path);
        all.push_back(s);
    }
    {
        Scenario s = Installed("EntryClimbingOutOfTheGameFolder");
        s.extraEntries = {{"FILES\\..\\..\\EVIL.TXT", "evil"}};
        s.answers = {"yes", "ignore", "ok"};
        // ".." sorts first in the pack; the real files are copied after it.
        s.boxes = {Welcome2Box("1.01", "yes"), CopyError("..", "ignore"), Plain(kNotComplete)};
        s.updateRan = true;
        all.push_back(s);
    }
    {
        Scenario s = Installed("EntriesWindowsWouldNotCreate");
        s.extraEntries = {{"FILES\\AUX", "x"}, {"FILES\\C:\\X.TXT", "x"}, {"FILES\\CON.TXT", "x"},
                          {"FILES\\README.TXT.~QP", "x"}, {"FILES\\TRAILING.", "x"}};
        s.answers = {"yes", "ignore", "ignore", "ignore", "ignore", "ignore", "ok"};
        s.boxes = {Welcome2Box("1.01", "yes"),         CopyError("AUX", "ignore"),
                   CopyError("C:", "ignore"),          CopyError("CON.TXT", "ignore"),
                   CopyError("README.TXT.~QP", "ignore"), CopyError("TRAILING.", "ignore"),
                   Plain(kNotComplete)};
        s.updateRan = true;
        all.push_back(s);
    }
    for (const char* name : {"..\\..\\Evil", "A:B", "Sub\\Name", "CON", ""}) {
        Scenario s = Complete(std::string("ShortcutName") + std::to_string(all.size()));
        s.strings = {{"zln_name", std::string(name)}};
        s.programsFolders = {"Sub"};
        s.shortcuts = {};
        all.push_back(s);
    }
    return all;
}

// A content with its last 100 bytes replaced: a delta of it is small.
std::string WithTail(std::string bytes, char tail) {
    bytes.replace(bytes.size() - 100, 100, 100, tail);
    return bytes;
}

// A delta patch to 1.05 built against 1.03 and 1.04, installed at version:
// the map differs in each base (two deltas), the sound is the same in both
// (one delta), the units are already new in 1.04 (read-only there, so a
// rewrite would show), the readme is too small for a delta (whole). A map
// of a megabyte or more is measured on both processors, its halves apart.
Scenario DeltaInstalled(const std::string& name, const char* version, size_t mapSize = 60000) {
    Scenario s = Installed(name);
    const std::string map = Bytes(mapSize, 7), units = Bytes(40000, 9), sound = Bytes(30000, 11);
    s.strings = {{"vermin", "10003"}};
    s.patchFiles = {{"readme.txt", "QUOR 1.05\r\n"},
                    {"data\\units.dat", units},
                    {kMapPath, map},
                    {"sounds\\intro.wav", sound},
                    {"zln\\zavovudiz.exe", "client"}};
    s.bases = {{"1.03",
                {{"readme.txt", "QUOR 1.03\r\n"},
                 {"data\\units.dat", WithTail(units, 'u')},
                 {kMapPath, WithTail(map, 'a')},
                 {"sounds\\intro.wav", WithTail(sound, 'o')},
                 {"zln\\zavovudiz.exe", "client"}}},
               {"1.04",
                {{"readme.txt", "QUOR 1.04\r\n"},
                 {"data\\units.dat", units, true},
                 {kMapPath, WithTail(map, 'b')},
                 {"sounds\\intro.wav", WithTail(sound, 'o')},
                 {"zln\\zavovudiz.exe", "client"}}}};
    const bool at104 = std::string(version) == "1.04";
    s.gameFiles = s.bases[at104 ? 1 : 0].files;
    s.gameVersion = at104 ? 0x10004 : 0x10003;
    s.answers = {"yes", "ok"};
    s.boxes = {Welcome2Box(version, "yes"), Plain(kDone)};
    s.updateRan = true;
    s.versionAfter = 0x10005;
    s.shortcuts = {kShortcut};
    if (at104) s.notCopied = {"data\\units.dat"};  // already new: left alone, read-only still
    return s;
}

const char kDeltaMap[] = "MAPS\\KINGSFALL.MAP";

// The boxes of the check before the first change (Retry/Cancel, warning).
constexpr int kRetryCancelWarning = 0x35;
Box NoMatch(const char* relative, const std::string& answer) {
    return {kTitle, std::string(relative) + " is not a file this patch can update: it was changed or damaged. Restore "
                                            "it and choose Retry.",
            kRetryCancelWarning, answer};
}
Box InUse(const char* relative, const std::string& answer) {
    return {kTitle, std::string(relative) + " is in use by another program or locked. Close that program and "
                                            "choose Retry.",
            kRetryCancelWarning, answer};
}

// Two files the new version drops, in both bases: data\old.dat with another
// content in each, old\gone.pak (read-only and hidden) alone in its folder.
Scenario WithRemovals(Scenario s) {
    s.bases[0].files.push_back({"data\\old.dat", "old data 1.03"});
    s.bases[1].files.push_back({"data\\old.dat", "old data 1.04"});
    for (BaseSpec& base : s.bases) base.files.push_back({"old\\gone.pak", "an old pack"});
    s.gameFiles.push_back({"data\\old.dat", "old data 1.03"});
    s.gameFiles.push_back({"old\\gone.pak", "an old pack", true, 0x2});
    return s;
}

// The engine renamed and moved between versions: bin\engine-1.3.dll, another
// content in each base, is engine\engine-1.5.dll in 1.05. The patch rebuilds
// the new name from the old one, removes the old name (after the rebuild has
// read it) and the folder that leaves empty.
const char kOldEngine[] = "bin\\engine-1.3.dll";
Scenario WithRenamedEngine(Scenario s) {
    const std::string engine = Bytes(80000, 13);
    s.patchFiles.push_back({"engine\\engine-1.5.dll", engine});
    s.bases[0].files.push_back({kOldEngine, WithTail(engine, 'e')});
    s.bases[1].files.push_back({kOldEngine, WithTail(engine, 'f')});
    s.gameFiles.push_back(s.bases[0].files.back());
    s.removed = {kOldEngine, "bin\\"};
    return s;
}

// Every base rebuilt; an installed map that matches no delta (modified by
// the player) is found by the check before anything changes: Retry checks
// again, Cancel ends the run with the game as it was.
std::vector<Scenario> DeltaPatches() {
    std::vector<Scenario> all = {DeltaInstalled("DeltaFrom103", "1.03"), DeltaInstalled("DeltaFrom104", "1.04")};
    for (const char* answer : {"cancel", "retry"}) {
        Scenario s = DeltaInstalled(std::string("DeltaModifiedMapThen") + char(answer[0] - 'a' + 'A') + (answer + 1),
                                    "1.03");
        s.gameFiles[2].content = WithTail(s.gameFiles[2].content, 'm');
        s.answers = {"yes", answer, "cancel"};
        s.boxes = {Welcome2Box("1.03", "yes"), NoMatch(kDeltaMap, answer)};
        if (std::string(answer) == "retry") s.boxes.push_back(NoMatch(kDeltaMap, "cancel"));
        s.exitCode = -1;
        s.updateRan = false;
        s.shortcuts = {};
        s.versionAfter.reset();
        all.push_back(s);
    }
    {
        // The check finds too little free space for every new file beside
        // the old ones (Retry checks again), and a map another program holds.
        Scenario s = Installed("CheckFindsTooLittleFreeSpace");
        s.faultSpace = "10000";
        s.answers = {"yes", "retry", "cancel"};
        const Box space{kTitle, "The update needs 1 MB more free space on the game's drive. Free some space and "
                                "choose Retry.",
                        kRetryCancelWarning, "retry"};
        s.boxes = {Welcome2Box("1.01", "yes"), space, space};
        s.boxes.back().answer = "cancel";
        s.exitCode = -1;
        all.push_back(s);
        s = Complete("CheckFindsAMapInUseThenRetry");
        s.faultOpen = "maps/kingsfall.map:32:1";
        s.answers = {"yes", "retry", "ok"};
        s.boxes.insert(s.boxes.begin() + 1, InUse(kDeltaMap, "retry"));
        all.push_back(s);
    }
    struct Forged {
        const char* name;
        size_t file;
        const char* relative;
        size_t mapSize;
    };
    for (const Forged& f : {Forged{"DeltaCrcForgedMapIsReported", 2, kDeltaMap, 60000},
                            Forged{"DeltaCrcForgedLastFileIsReported", 3, "SOUNDS\\INTRO.WAV", 60000},
                            Forged{"DeltaCrcForgedLargeMapIsReported", 2, kDeltaMap, 1536 << 10}}) {
        // Edited where the delta copies it, four bytes fixed up to keep its
        // CRC-32: its key's digest tells before anything changes, and the
        // file keeps its bytes and attributes, whichever thread measured it
        // (the last of the keys, the sound, too; a large map by both).
        Scenario s = DeltaInstalled(f.name, "1.03", f.mapSize);
        std::vector<uint8_t> forged(s.gameFiles[f.file].content.begin(), s.gameFiles[f.file].content.end());
        const uint32_t crc = Crc32(forged.data(), forged.size());
        forged[1000] ^= 0x20;
        ForgeCrc32(&forged, 2000, crc);
        s.gameFiles[f.file].content.assign(forged.begin(), forged.end());
        s.gameFiles[f.file].readOnly = true;
        s.answers = {"yes", "cancel"};
        s.boxes = {Welcome2Box("1.03", "yes"), NoMatch(f.relative, "cancel")};
        s.exitCode = -1;
        s.updateRan = false;
        s.shortcuts = {};
        s.versionAfter.reset();
        all.push_back(s);
    }
    for (const char* answer : {"retry", "abort"}) {
        // The rebuilt map waits in the batch and its move is refused there:
        // the box comes in file order; Retry rebuilds it on its own, Abort
        // leaves the units (before it) moved in and the sound (after it) not.
        Scenario s = DeltaInstalled(std::string("DeltaMapMoveRefusedThen") + char(answer[0] - 'a' + 'A') + (answer + 1),
                                    "1.03");
        s.faultMove = "KINGSFALL.MAP.~qo:5:1";
        s.answers = {"yes", answer, "ok"};
        s.boxes = {Welcome2Box("1.03", "yes"), CopyError(kDeltaMap, answer), Plain(kDone)};
        if (std::string(answer) == "abort") {
            s.boxes.back() = Fatal(kNotComplete);
            s.exitCode = -1;
            s.shortcuts = {};
            s.versionAfter.reset();
            s.notCopied = {kMapPath, "sounds\\intro.wav"};
        }
        all.push_back(s);
    }
    {
        // Without rights to the volume each rebuilt file is flushed and moved
        // in on its own; where the volume refuses its flush, each one queued.
        Scenario s = DeltaInstalled("DeltaVolumeCannotBeOpenedRebuildsFileByFile", "1.03");
        s.faultOpen = "\\\\.\\C:5";
        all.push_back(s);
        s = DeltaInstalled("DeltaVolumeFlushRefusedRebuildsFileByFile", "1.03");
        s.faultFlush = "\\\\.\\C:1117";
        all.push_back(s);
    }
    {
        // Files only the old versions have go while they hold an old
        // content: one of two contents, one read-only and hidden, whose
        // folder goes with it. One the player changed stays, and is named.
        Scenario s = WithRemovals(DeltaInstalled("DeltaRemovesWhatTheNewVersionDropped", "1.03"));
        s.removed = {"data\\old.dat", "old\\gone.pak", "old\\"};
        all.push_back(s);
        s = WithRemovals(DeltaInstalled("DeltaKeepsARemovedFileThePlayerChanged", "1.03"));
        s.gameFiles.back().content = "changed by the player";
        s.removed = {"data\\old.dat"};
        s.boxes.insert(s.boxes.end() - 1,
                       Box{kTitle, "old\\gone.pak was changed since it was installed; the patch leaves it in place.",
                           0x40, "ok"});
        s.answers = {"yes", "ok", "ok"};
        all.push_back(s);
        // A removal refused after every other change: Abort undoes them all.
        s = WithRemovals(DeltaInstalled("DeltaRemovalRefusedThenAbort", "1.03"));
        s.faultMove = "gone.pak.~qo:5:1";
        s.answers = {"yes", "abort", "ok"};
        s.boxes = {Welcome2Box("1.03", "yes"), CopyError("old\\gone.pak", "abort"), Fatal(kNotComplete)};
        s.exitCode = -1;
        s.shortcuts = {};
        s.versionAfter.reset();
        all.push_back(s);
    }
    {
        // Renamed: rebuilt from its old name, which the patch then removes.
        // An old name the player changed is found before anything changes.
        all.push_back(WithRenamedEngine(DeltaInstalled("DeltaRenamedEngineRebuiltFromItsOldName", "1.03")));
        Scenario s = WithRenamedEngine(DeltaInstalled("DeltaRenamedEngineChangedByThePlayerIsReported", "1.03"));
        s.gameFiles.back().content = WithTail(s.gameFiles.back().content, 'p');
        s.answers = {"yes", "cancel"};
        s.boxes = {Welcome2Box("1.03", "yes"), NoMatch(kOldEngine, "cancel")};
        s.exitCode = -1;
        s.updateRan = false;
        s.shortcuts = {};
        s.versionAfter.reset();
        s.removed.clear();
        all.push_back(s);
    }
    {
        // A folder where a file goes is no file in use: the copy reports it.
        Scenario s = Installed("FolderWhereAFileGoesIsReportedByTheCopy");
        s.gameFolders = {"readme.txt"};
        s.gameFiles = {{"maps\\kingsfall.map", Bytes(5000, 7)}};
        s.answers = {"yes", "ignore", "ok"};
        s.boxes = {Welcome2Box("1.01", "yes"), CopyError("README.TXT", "ignore"), Plain(kNotComplete)};
        s.updateRan = true;
        s.notCopied = {"readme.txt"};
        all.push_back(s);
    }
    {
        // The map cannot be read once, when it is checked: Retry rebuilds it.
        Scenario s = DeltaInstalled("DeltaUnreadableMapThenRetry", "1.03");
        s.faultOpen = "maps/kingsfall.map:5:1";
        s.answers = {"yes", "retry", "ok"};
        s.boxes = {Welcome2Box("1.03", "yes"), InUse(kDeltaMap, "retry"), Plain(kDone)};
        all.push_back(s);
    }
    all.push_back(DeltaInstalled("DeltaLargeMapFrom103", "1.03", 1536 << 10));
    return all;
}

// The switches of launchers and administrators: each silent exit code once,
// nothing shown (a box would end the run: no answers are scripted), and the
// log of a complete run, a failed one and one with deltas. The command line
// never chooses the payload, whatever file it names first.
const char kLogSwitch[] = " /LOG=\"C:\\patch.log\"";

Scenario Unattended(Scenario s, const std::string& switches) {
    s.commandLine = "\"{patch}\" " + switches;
    s.answers = {};
    s.boxes = {};
    s.unseen = switches.find("/VERYSILENT") != std::string::npos;
    return s;
}

// A box as the log writes it: line feeds as '|', the answer taken.
std::string LogBox(const std::string& caption, std::string text, const char* answer) {
    for (char& c : text)
        if (c == '\n') c = '|';
    return "box \"" + caption + "\": " + text + " -> " + answer;
}

std::string Upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return text;
}

// The log up to the file lines of a run at version that reaches the update.
std::vector<std::string> LogUntilTheFiles(const char* version, const std::vector<FileSpec>& files) {
    size_t bytes = 0;
    for (const FileSpec& file : files) bytes += file.content.size();
    return {"patch file checked", LogBox(kTitle, Welcome2(version, kGameFolder), "yes"),
            std::string("game folder ") + kGameFolder, "installed game checked",
            "update: " + std::to_string(files.size()) + " files, " + std::to_string((bytes + 1023) / 1024) + " KB"};
}

std::string Replaced(const Scenario& s, const std::string& path) {
    for (const FileSpec& file : s.patchFiles)
        if (file.path == path) return "replaced " + Upper(path) + ", " + std::to_string(file.content.size()) + " bytes";
    return "";
}

std::vector<std::string> LogOfTheEnd(bool done, int exitCode) {
    if (done)
        return {"GameVersion recorded: 10005", LogBox(kTitle, kDone, "ok"), "outcome: updated (exit code 0)"};
    return {LogBox(kTitle, kNotComplete, "ok"), "outcome: errnotcomplete (exit code " + std::to_string(exitCode) + ")"};
}

std::vector<Scenario> UnattendedRuns() {
    std::vector<Scenario> all;
    {
        Scenario s = Unattended(Complete("SilentCompleteUpdateLogsEveryFile"), std::string("/silent") + kLogSwitch);
        s.logLines = LogUntilTheFiles("1.01", s.patchFiles);
        for (const std::string& path : WriteOrder(false)) s.logLines.push_back(Replaced(s, path));
        for (const std::string& line : LogOfTheEnd(true, 0)) s.logLines.push_back(line);
        all.push_back(s);
    }
    {
        // The map cannot be written: tried again three times a second apart,
        // then the run is aborted and undone: the game as it was.
        Scenario s = Unattended(Installed("VerySilentDiskFullRetriedThenAborted"), std::string("/VERYSILENT") + kLogSwitch);
        s.faultWrite = "KINGSFALL.MAP.~qp:1000:full";
        s.updateRan = true;
        s.asInstalled = true;
        s.exitCode = 5;
        s.logLines = LogUntilTheFiles("1.01", s.patchFiles);
        for (const char* path : {"empty.dat", "exact.bin", "maps\\campaign\\intro.txt"})
            s.logLines.push_back(Replaced(s, path));
        const std::string copyError = std::string("Error while trying to copy ") + kMap;
        for (const char* answer : {"retry", "retry", "retry", "abort"})
            s.logLines.push_back(LogBox("Error", copyError, answer));
        for (const char* path : {"MAPS\\CAMPAIGN\\INTRO.TXT", "EXACT.BIN", "EMPTY.DAT"})
            s.logLines.push_back(std::string("undone ") + path);
        for (const std::string& line : LogOfTheEnd(false, 5)) s.logLines.push_back(line);
        all.push_back(s);
    }
    {
        // From 1.04 the units are new already; the map and the sound are
        // rebuilt, the readme copied whole.
        Scenario s = Unattended(DeltaInstalled("VerySilentDeltaFrom104LogsRebuilds", "1.04"),
                                std::string("/VERYSILENT") + kLogSwitch);
        std::vector<FileSpec> files = {s.patchFiles[0], s.patchFiles[1], s.patchFiles[2], s.patchFiles[3]};
        s.logLines = LogUntilTheFiles("1.04", files);
        for (const std::string& line :
             {Replaced(s, "readme.txt"), std::string("already new DATA\\UNITS.DAT, 40000 bytes"),
              std::string("rebuilt from a delta MAPS\\KINGSFALL.MAP, 60000 bytes"),
              std::string("rebuilt from a delta SOUNDS\\INTRO.WAV, 30000 bytes")})
            s.logLines.push_back(line);
        for (const std::string& line : LogOfTheEnd(true, 0)) s.logLines.push_back(line);
        all.push_back(s);
    }
    {
        // A delta from another path whose source the same patch first
        // replaces whole (a pack made by hand: the tool takes only sources
        // the new version lacks). The rebuild reads the source's old bytes,
        // kept beside it; the log tells it was rebuilt, which the applier
        // does only with the new file's SHA-256.
        Scenario s = Unattended(Complete("VerySilentDeltaFromAReplacedSourceReadsItsOldBytes"),
                                std::string("/VERYSILENT") + kLogSwitch);
        const std::string engine = Bytes(20000, 13), next = WithTail(engine, 'n');
        s.patchFiles.insert(s.patchFiles.begin(), {kOldEngine, "engine 1.5 loader"});
        s.gameFiles.push_back({kOldEngine, engine});
        std::vector<uint8_t> delta = EncodeDelta(reinterpret_cast<const uint8_t*>(engine.data()), engine.size(),
                                                 reinterpret_cast<const uint8_t*>(next.data()), next.size(), 1);
        AddDeltaSource(&delta, kOldEngine);
        char key[kDeltaKeyLength + 1];
        FormatDeltaKey(uint32_t(engine.size()), Crc32(engine.data(), engine.size()), key);
        s.extraEntries = {{std::string("DELTAS\\ENGINE\\ENGINE-1.5.DLL\\") + key, std::string(delta.begin(), delta.end())}};
        std::vector<FileSpec> files = s.patchFiles;
        files.push_back({"engine\\engine-1.5.dll", next});
        s.logLines = LogUntilTheFiles("1.01", files);
        s.logLines.push_back(Replaced(s, kOldEngine));
        for (const std::string& path : WriteOrder(false)) s.logLines.push_back(Replaced(s, path));
        s.logLines.push_back("rebuilt from a delta ENGINE\\ENGINE-1.5.DLL, 20000 bytes");
        for (const std::string& line : LogOfTheEnd(true, 0)) s.logLines.push_back(line);
        all.push_back(s);
    }
    {
        Scenario s = Unattended(Installed("VerySilentNoGameExecutable"), "/VERYSILENT");
        s.gameExecutable = false;
        s.exitCode = 2;
        all.push_back(s);
        s = Unattended(Installed("VerySilentNewerVersionInstalled"), "/verysilent");
        s.gameVersion = 0x10006;
        s.exitCode = 3;
        all.push_back(s);
        s = Unattended(Installed("VerySilentGameRunning"), "/VerySilent");
        s.gameRunning = true;
        s.exitCode = 4;
        all.push_back(s);
        s = Unattended(Installed("VerySilentNoPayload"), "/VERYSILENT");
        s.layout = PayloadLayout::kMissing;
        s.exitCode = 6;
        all.push_back(s);
        s = Unattended(Installed("VerySilentUnknownSwitch"), "/VERYSILENT /SUPPRESSMSGBOXES");
        s.exitCode = 7;
        all.push_back(s);
        // A log that cannot be made changes nothing.
        s = Unattended(Complete("VerySilentLogInAMissingFolder"), "/VERYSILENT /LOG=\"C:\\No Such Folder\\p.log\"");
        all.push_back(s);
    }
    {
        // Without a silent switch an unknown word gets a box and the code of
        // every early stop.
        Scenario s = Installed("UnknownSwitchInABox");
        s.commandLine = "\"{patch}\" /S";
        s.answers = {"ok"};
        s.boxes = {{kTitle, "Unknown switch: /S\n\nThe patch takes /SILENT, /VERYSILENT and /LOG=\"<file>\".", kOkError,
                    "ok"}};
        s.exitCode = -1;
        all.push_back(s);
    }
    {
        // A parent may name any file first on the command line: the payload
        // still comes from the program's own file, also when that name is a
        // relative one that does not lead to the patch from here.
        Scenario s = Complete("CommandLineNamesAnotherProgram");
        s.commandLine = "\"{bare}\"";
        all.push_back(s);
        s = Complete("CommandLineNamesThePatchRelatively");
        s.commandLine = "\"QuorPatch.exe\"";
        all.push_back(s);
    }
    return all;
}

// Inputs a player's machine may hold damaged: a registry value too long for
// its buffer, local packs whose container cannot be opened.
std::vector<Scenario> DamagedInputs() {
    std::vector<Scenario> all;
    {
        // Too long for the 256-byte buffer: never shown, never used.
        Scenario s = Stopped("PathLongerThanTheBuffer", "1.01", kNoQuor);
        s.registryPath = "C:\\" + std::string(300, 'p') + "\\";
        s.boxes[0] = WelcomeBox("yes");
        all.push_back(s);
    }
    for (PackKind kind : {PackKind::kBlockFile, PackKind::kPackFile}) {
        // A container with block size 0 around the local pack: no pack
        // check, the run goes on.
        Scenario s = Complete(kind == PackKind::kBlockFile ? "BlockFileInContainerWithBlockSize0"
                                                           : "PackFileInContainerWithBlockSize0");
        s.strings = {{"lang", "english"}};
        s.localPack = {kind, true, std::string("german"), std::string("Bauer")};
        s.localPackBlockSize = 0;
        all.push_back(s);
    }
    return all;
}

// Failures of the machine around the copy: each is told as such, never as
// "successfuly", and leaves the registry's version as it was.
std::vector<Scenario> MachineFailures() {
    std::vector<Scenario> all;
    for (const char* fault : {"open:5", "set:112"}) {
        // The version cannot be recorded: the run is undone, as the next
        // patch would take the game for 1.01.
        Scenario s = Complete(fault[0] == 'o' ? "VersionKeyCannotBeWritten" : "VersionValueCannotBeSet");
        s.faultRegistry = fault;
        s.asInstalled = true;
        s.boxes[1] = Plain(kNotComplete);
        s.versionAfter.reset();
        s.shortcuts = {};
        all.push_back(s);
    }
    {
        // No dialog, no worker: nothing copied or recorded.
        Scenario s = Installed("ProgressDialogCannotBeCreated");
        s.faultDialog = true;
        s.answers = {"yes", "ok"};
        s.boxes = {Welcome2Box("1.01", "yes"), Plain(kNotComplete)};
        all.push_back(s);
    }
    {
        // The game's mutex belongs to another account: it may be running.
        Scenario s = Stopped("GameMutexCannotBeCreated", "1.01", kQuorRun);
        s.faultMutex = "5";
        all.push_back(s);
    }
    {
        // Part of the strings file cannot be read (a block the checksum
        // entry's stored CRC was taken over spoiled): nothing of it is used.
        Scenario s = Installed("StringsFileCutByAReadError");
        // Comment lines after "welcome" make the file span three blocks; the
        // middle one is spoiled, the keys behind it lie in the last.
        std::string padding;
        for (int line = 10; line < 90; ++line) padding += "\r\n; pad " + std::to_string(line) + std::string(990, '.');
        s.strings = {{"welcome", std::string(kWelcome) + padding}};
        s.undecodableFrom = "; pad 40";
        s.answers = {"ok"};
        s.boxes = {{"QUOR Patch", "Patch file is broken!", kOkPlain, "ok"}};
        s.exitCode = -1;
        all.push_back(s);
    }
    for (const char* answer : {"abort", "ignore", "ignore without threads"}) {
        // A pack file that cannot be read to its end (spoiled as above):
        // Retry fails alike, the map keeps its old bytes; the files behind it
        // are still copied on Ignore, with or without blocks decoded ahead.
        const bool abort = answer[0] == 'a';
        const bool threads = std::strchr(answer, 'w') == nullptr;
        Scenario s = Installed(std::string("PackFileCutByAReadErrorThen") + (abort ? "Abort" : "Ignore") +
                               (threads ? "" : "WithoutThreads"));
        std::string map;
        for (int line = 0; map.size() < 150000; ++line) map += "map line " + std::to_string(line) + "\r\n";
        for (FileSpec& file : s.patchFiles)
            if (file.path == kMapPath) file.content = map;
        s.undecodableFrom = "map line 5000\r\n";
        s.threadsThatStart = threads ? -1 : 1;
        s.updateRan = true;
        const std::string last = abort ? "abort" : "ignore";
        s.answers = {"yes", "retry", last, "ok"};
        s.boxes = {Welcome2Box("1.01", "yes"), CopyError(kMap, "retry"), CopyError(kMap, last)};
        s.boxes.push_back(abort ? Fatal(kNotComplete) : Plain(kNotComplete));
        s.exitCode = abort ? -1 : 0;
        s.notCopied = {kMapPath};
        if (abort) s.notCopied.insert(s.notCopied.end(), {"readme.txt", "zln\\zavovudiz.exe"});
        all.push_back(s);
    }
    return all;
}

// Registry values stored with another type or size than the installer's
// count as missing; an expandable path is expanded.
std::vector<Scenario> ForeignRegistryValues() {
    std::vector<Scenario> all;
    // Read as raw bytes, "101" would be version 49.12337 and the three
    // bytes version 1.05.
    const std::pair<const char*, const char*> versions[] = {
        {"GameVersionStoredAsText", "\"GameVersion\"=\"101\""},
        {"GameVersionOfThreeBytes", "\"GameVersion\"=hex(4):05,00,01"},
    };
    for (const auto& [name, line] : versions) {
        Scenario s = Stopped(name, "1.00", kErrVerMin);
        s.gameVersion.reset();
        s.registryLines = {line};
        all.push_back(s);
    }
    {
        Scenario s = Stopped("PathStoredAsBinary", "1.01", kNoQuor);
        s.registryPath.reset();
        s.registryLines = {"\"Path\"=hex:43,3a,5c,47,61,6d,65,73,5c,51,75,6f,72,5c,00"};
        s.boxes[0] = WelcomeBox("yes");
        all.push_back(s);
    }
    {
        // "%SystemDrive%\Games\Quor\" as an expandable string.
        Scenario s = Complete("ExpandablePath");
        s.registryPath.reset();
        std::string line = "\"Path\"=hex(2):";
        const std::string path = "%SystemDrive%\\Games\\Quor\\";
        for (char c : path + '\0') {
            char byte[4];
            std::snprintf(byte, sizeof byte, "%02x", unsigned(uint8_t(c)));
            line += std::string(line.back() == ':' ? "" : ",") + byte;
        }
        s.registryLines = {line};
        all.push_back(s);
    }
    return all;
}

std::vector<Scenario> BuildScenarios() {
    std::vector<Scenario> all;

    all.push_back(Complete("CompleteUpdate"));

    {
        Scenario s = Complete("EqualVersionIsAccepted");
        s.gameVersion = 0x10005;
        s.boxes[0] = Welcome2Box("1.05", "yes");
        all.push_back(s);
    }
    {
        // Without the backslash the welcome test looks for "Quorquor.exe" and
        // asks the plain question; the folder itself still works.
        Scenario s = Complete("PathWithoutBackslash");
        s.registryPath = "C:\\Games\\Quor";
        s.boxes[0] = WelcomeBox("yes");
        all.push_back(s);
    }
    {
        Scenario s = Installed("DeclinedWelcome");
        s.gameRunning = true;  // not reported: the run ends before the mutex test
        s.answers = {"no"};
        s.boxes = {Welcome2Box("1.01", "no")};
        s.exitCode = -1;
        all.push_back(s);
    }
    {
        Scenario s = Stopped("GameRunning", "1.01", kQuorRun);
        s.gameRunning = true;
        all.push_back(s);
    }
    {
        Scenario s = Stopped("NoGameFolder", "1.01", kNoQuor);
        s.registryPath.reset();
        s.boxes[0] = WelcomeBox("yes");  // no folder: no "quor.exe" to find
        all.push_back(s);
    }
    {
        Scenario s = Stopped("NoRegistryKey", "1.00", kNoQuor);
        s.registryKey = KeyPlace::kNone;
        s.boxes[0] = WelcomeBox("yes");
        all.push_back(s);
    }
    {
        // A key in the 64-bit view alone is not the game's: a 32-bit program
        // never sees it.
        Scenario s = Stopped("KeyOnlyIn64BitView", "1.00", kNoQuor);
        s.registryKey = KeyPlace::k64BitView;
        s.boxes[0] = WelcomeBox("yes");
        all.push_back(s);
    }
    {
        // Keys in both views: the 32-bit one is read and written, the other
        // (a newer version in a folder without the game) is left alone.
        Scenario s = Complete("KeysInBothViewsThe32BitOneCounts");
        s.registryKey = KeyPlace::kBothViews;
        s.registryPath64 = "C:\\Games\\Quor64\\";
        s.gameVersion64 = 0x10006;
        all.push_back(s);
    }
    {
        // 255 characters and no room left for the backslash: as missing.
        Scenario s = Stopped("OverlongPathCountsAsMissing", "1.01", kNoQuor);
        s.registryPath = "C:\\" + std::string(252, 'p');
        s.boxes[0] = WelcomeBox("yes");
        all.push_back(s);
    }
    {
        Scenario s = Stopped("NoGameExecutable", "1.01", kNoQuor);
        s.gameExecutable = false;
        s.boxes[0] = WelcomeBox("yes");
        all.push_back(s);
    }
    {
        Scenario s = Stopped("NewerVersionInstalled", "1.06", kNoNeed);
        s.gameVersion = 0x10006;
        all.push_back(s);
    }
    {
        Scenario s = Stopped("OlderThanMinimum", "1.00", kErrVerMin);
        s.gameVersion = 0x10000;
        all.push_back(s);
    }
    {
        Scenario s = Stopped("NoVersionRecorded", "1.00", kErrVerMin);
        s.gameVersion.reset();
        all.push_back(s);
    }
    {
        Scenario s = Stopped("WrongLanguageInRegistry", "1.01", kWrongLang);
        s.strings = {{"lang", "english"}};
        s.language = "german";
        all.push_back(s);
    }
    {
        Scenario s = Stopped("WrongLanguageInLocalPack", "1.01", kWrongLang);
        s.strings = {{"lang", "english"}};
        s.language = "English";
        s.localPack = {PackKind::kBlockFile, false, std::string("german"), std::string("peasant")};
        all.push_back(s);
    }
    {
        Scenario s = Stopped("WrongPeonInCompressedPackFile", "1.01", kWrongLang);
        s.strings = {{"lang", "english"}};
        s.localPack = {PackKind::kPackFile, true, std::string("ENGLISH"), std::string("Bauer")};
        all.push_back(s);
    }
    {
        Scenario s = Complete("RightLanguageInCompressedBlockFile");
        s.strings = {{"lang", "english"}};
        s.language = "english";
        s.localPack = {PackKind::kBlockFile, true, std::string("English"), std::string("Peasant")};
        all.push_back(s);
    }
    {
        Scenario s = Complete("RightLanguageInPackFile");
        s.strings = {{"lang", "english"}};
        s.localPack = {PackKind::kPackFile, false, std::string("english"), std::nullopt};
        all.push_back(s);
    }
    {
        Scenario s = Complete("UnknownLocalPackIsNoCheck");
        s.strings = {{"lang", "english"}};
        s.localPack = {PackKind::kGarbage, false, std::nullopt, std::nullopt};
        all.push_back(s);
    }
    {
        // Without "lang" the pack is not looked at, whatever it says.
        Scenario s = Complete("NoLangKeyNoLanguageCheck");
        s.language = "german";
        s.localPack = {PackKind::kBlockFile, false, std::string("german"), std::string("Bauer")};
        all.push_back(s);
    }
    {
        Scenario s = Complete("ReadOnlyTargetIsReplaced");
        s.gameFiles[0].readOnly = true;
        all.push_back(s);
    }
    {
        Scenario s = Complete("RetryThenSuccess");
        s.faultOpen = "KINGSFALL.MAP.~qp:5:2";
        s.answers = {"yes", "retry", "retry", "ok"};
        s.boxes = {Welcome2Box("1.01", "yes"), CopyError("MAPS\\KINGSFALL.MAP", "retry"),
                   CopyError("MAPS\\KINGSFALL.MAP", "retry"), Plain(kDone)};
        all.push_back(s);
    }
    {
        Scenario s = Installed("IgnoreLeavesTheUpdateIncomplete");
        s.faultOpen = "INTRO.TXT:5";
        s.answers = {"yes", "ignore", "ok"};
        s.boxes = {Welcome2Box("1.01", "yes"), CopyError("MAPS\\CAMPAIGN\\INTRO.TXT", "ignore"),
                   Plain(kNotComplete)};
        s.updateRan = true;
        s.notCopied = {"maps\\campaign\\intro.txt"};
        all.push_back(s);
    }
    {
        // Only what the journal of a run of ours names is swept: the game's
        // own files named like temporary files stay.
        Scenario s = Complete("GameFilesNamedLikeTemporaryFilesStay");
        s.gameFiles.push_back({"sound\\voices.snd.~qp", Bytes(3000, 5)});
        s.gameFiles.push_back({"OLD.DAT.~QP", "x", true, 0x2});
        s.gameFiles.push_back({"sound\\voices.~qp.txt", "kept"});
        s.leftovers = {"OLD.DAT.~QP", "sound\\voices.snd.~qp"};
        all.push_back(s);
    }
    {
        // Without rights to the volume each file is flushed and moved in on
        // its own.
        Scenario s = Complete("VolumeCannotBeOpenedCopiesFileByFile");
        s.faultOpen = "\\\\.\\C:5";
        all.push_back(s);
    }
    {
        // A volume that refuses every flush: the files are flushed and moved
        // in one by one.
        Scenario s = Complete("VolumeFlushRefusedCopiesFileByFile");
        s.faultFlush = "\\\\.\\C:1117";
        all.push_back(s);
    }
    {
        // Every file in place, but the last flush, for the moves, fails: the
        // new files may not be on disk, the run is undone and the version
        // not recorded.
        Scenario s = Installed("LastFlushFailsLeavesTheVersionUnrecorded");
        s.faultFlush = "\\\\.\\C:1117:1:1";
        s.asInstalled = true;
        s.answers = {"yes", "ok"};
        s.boxes = {Welcome2Box("1.01", "yes"), Plain(kNotComplete)};
        s.updateRan = true;
        all.push_back(s);
    }
    {
        Scenario s = Installed("AbortEndsTheRun");
        s.faultOpen = "INTRO.TXT:5";
        s.answers = {"yes", "abort", "ok"};
        s.boxes = {Welcome2Box("1.01", "yes"), CopyError("MAPS\\CAMPAIGN\\INTRO.TXT", "abort"), Fatal(kNotComplete)};
        s.exitCode = -1;
        s.updateRan = true;
        // The pack lists its names sorted: everything after the intro stays.
        s.notCopied = {"maps\\campaign\\intro.txt", "maps\\kingsfall.map", "readme.txt", "zln\\zavovudiz.exe"};
        all.push_back(s);
    }
    {
        // The first handle on the map's temporary file runs out of space after
        // 1000 bytes: the file is reported, not counted as copied; the retry
        // succeeds.
        Scenario s = Complete("DiskFullIsReportedAndRetried");
        s.faultWrite = "KINGSFALL.MAP.~qp:1000:full:1";
        s.answers = {"yes", "retry", "ok"};
        s.boxes = {Welcome2Box("1.01", "yes"), CopyError("MAPS\\KINGSFALL.MAP", "retry"), Plain(kDone)};
        all.push_back(s);
    }
    {
        Scenario s = Installed("DiskFullIgnored");
        s.faultWrite = "KINGSFALL.MAP.~qp:1000:full";
        s.answers = {"yes", "ignore", "ok"};
        s.boxes = {Welcome2Box("1.01", "yes"), CopyError("MAPS\\KINGSFALL.MAP", "ignore"), Plain(kNotComplete)};
        s.updateRan = true;
        s.notCopied = {"maps\\kingsfall.map"};
        all.push_back(s);
    }
    {
        Scenario s = Installed("NoPayload");
        s.layout = PayloadLayout::kMissing;
        s.answers = {"ok"};
        s.boxes = {{"QUOR Patch", "Patch file is broken!", kOkPlain, "ok"}};
        s.exitCode = -1;
        all.push_back(s);
    }
    {
        // Every patch the tool writes carries the checksum entry: a pack
        // without one is damaged, and nothing of it is used.
        Scenario s = Installed("PackWithoutTheChecksumEntry");
        s.withoutChecksum = true;
        s.answers = {"ok"};
        s.boxes = {{"QUOR Patch", "Patch file is broken!", kOkPlain, "ok"}};
        s.exitCode = -1;
        all.push_back(s);
    }
    {
        Scenario s = Complete("HeaderInTheLastBytesOfAScanBlock");
        s.layout = PayloadLayout::kHeaderAtBlockEnd;
        all.push_back(s);
    }
    {
        // Every folder named "quor" gets one, also one inside another; a file
        // named quor and folders below a '.' folder do not count.
        Scenario s = Complete("ShortcutsIntoEveryQuorFolder");
        s.programsFolders = {"Orvandel\\Quor", "Orvandel\\Quor\\quor", "Games\\QUOR", ".hidden\\quor", "Other"};
        s.programsFiles = {"Other\\quor"};
        s.shortcuts = {"Orvandel\\Quor\\" + std::string(kShortcut), "Orvandel\\Quor\\quor\\" + std::string(kShortcut),
                       "Games\\QUOR\\" + std::string(kShortcut)};
        all.push_back(s);
    }
    {
        Scenario s = Complete("ShortcutSwitchedOff");
        s.strings = {{"zln_shortcut", "yes"}};
        s.shortcuts = {};
        all.push_back(s);
    }
    {
        // A strings file whose formats do not take the program's arguments
        // is shown as written, never used as a format.
        Scenario s = Complete("ForeignFormatsShownAsWritten");
        s.strings = {{"welcome2", "Installed %s in %d %n|%x"}};
        s.boxes[0] = {kTitle, "Installed %s in %d %n\n%x", kYesNoInformation, "yes"};
        all.push_back(s);
    }
    for (Scenario& s : CopyFailures()) all.push_back(std::move(s));
    for (Scenario& s : ConfinedWrites()) all.push_back(std::move(s));
    for (Scenario& s : DamagedInputs()) all.push_back(std::move(s));
    for (Scenario& s : MachineFailures()) all.push_back(std::move(s));
    for (Scenario& s : ForeignRegistryValues()) all.push_back(std::move(s));
    for (Scenario& s : DeltaPatches()) all.push_back(std::move(s));
    for (Scenario& s : UnattendedRuns()) all.push_back(std::move(s));
    return all;
}

}  // namespace

std::string ShippedStrings() {
    std::string text = "[str]\r\n";
    for (const auto& [key, value] : ShippedKeys()) text += key + " = " + value + "\r\n";
    return text;
}

std::string PatchStrings(const Scenario& scenario) {
    std::vector<std::pair<std::string, std::optional<std::string>>> keys;
    for (const auto& [key, value] : ShippedKeys()) keys.emplace_back(key, value);
    for (const auto& [key, value] : scenario.strings) {
        bool replaced = false;
        for (auto& entry : keys)
            if (entry.first == key) {
                entry.second = value;
                replaced = true;
            }
        if (!replaced) keys.emplace_back(key, value);
    }
    std::string text = "[str]\r\n";
    for (const auto& [key, value] : keys)
        if (value) text += key + " = " + *value + "\r\n";
    return text;
}

std::vector<FileSpec> DefaultPatchFiles() {
    return {
        {"readme.txt", "QUOR 1.05\r\nNew: the gaming service client.\r\n"},
        {"empty.dat", ""},
        {"exact.bin", Bytes(32768, 1)},
        {"maps\\kingsfall.map", Bytes(40000, 2)},
        {"maps\\campaign\\intro.txt", "The kingdom has fallen.\r\n"},
        {"zln\\zavovudiz.exe", Bytes(4096, 3)},
    };
}

void PrintTo(const Scenario& scenario, std::ostream* out) { *out << scenario.name; }

std::vector<std::pair<Scenario, Scenario>> KilledThenRunAgain() {
    // The pack lists its names sorted; the files are written in batches and
    // none is moved in before a flush begun after it was written has
    // returned. The moves follow the same order. A full batch's flush and
    // then its moves run while the next batch is written; the last batch is
    // flushed and moved in once the tree is done.
    struct KillPoint {
        const char* name;
        std::string Scenario::*variable;  // the W32_FAULT_* rule that kills
        const char* fault;
        size_t written;  // temporary files there when the process dies
        size_t moved;    // of them, moved in over their targets
        bool voices = false;    // three batches, not one
        size_t mayFollow = 0;   // temporary files after those the worker may also have written
    };
    const KillPoint points[] = {
        {"KilledInTheFirstFile", &Scenario::faultKill, "EXACT.BIN.~qp:1000", 2, 0},
        {"KilledInTheMiddleOfTheMap", &Scenario::faultKill, "KINGSFALL.MAP.~qp:1000", 4, 0},
        {"KilledInTheLastFile", &Scenario::faultKill, "ZAVOVUDIZ.EXE.~qp:1000", 6, 0},
        {"KilledOnceTheBatchIsFlushed", &Scenario::faultFlush, "\\\\.\\C:kill", 6, 0},
        {"KilledBeforeTheThirdMove", &Scenario::faultMove, "INTRO.TXT:kill", 6, 2},
        {"KilledBeforeTheLastMove", &Scenario::faultMove, "ZAVOVUDIZ.EXE:kill", 6, 5},
        {"KilledInTheFlushAfterTheMoves", &Scenario::faultFlush, "\\\\.\\C:kill:1:1", 6, 6},
        {"KilledOnceTheFirstOfThreeBatchesIsFlushed", &Scenario::faultFlush, "\\\\.\\C:kill", 512, 0, true, 512},
        {"KilledBeforeTheFirstOfThreeBatchesMovesIn", &Scenario::faultMove, "EMPTY.DAT:kill", 512, 0, true, 512},
        {"KilledInTheMiddleOfTheFirstOfThreeBatchesMoves", &Scenario::faultMove, "V0300.SND:kill", 512, 305, true,
         512},
        {"KilledOnceTheSecondOfThreeBatchesIsFlushed", &Scenario::faultFlush, "\\\\.\\C:kill:1:1", 1024, 512, true, 6},
        {"KilledInTheFlushAfterTheLastOfThreeBatches", &Scenario::faultFlush, "\\\\.\\C:kill:1:3", 1030, 1030, true},
    };
    std::vector<std::pair<Scenario, Scenario>> runs;
    for (const KillPoint& point : points) {
        auto withFiles = [&](Scenario s) { return point.voices ? WithVoices(std::move(s)) : s; };
        const std::vector<std::string> order = WriteOrder(point.voices);
        Scenario killed = withFiles(Installed(point.name));
        killed.gameFiles[1].readOnly = true;
        killed.*point.variable = point.fault;
        killed.answers = {"yes"};
        killed.boxes = {Welcome2Box("1.01", "yes")};
        killed.exitCode = kKilled;
        killed.updateRan = true;
        // Each file old or new, and the version not recorded.
        killed.notCopied.assign(order.begin() + long(point.moved), order.end());
        for (size_t i = point.moved; i < point.written + point.mayFollow; ++i)
            (i < point.written ? killed.leftovers : killed.mayBeLeft).push_back(order[i] + ".~qp");
        runs.emplace_back(killed, withFiles(Complete(std::string("RunAfter") + point.name)));
    }
    {
        // Killed once the commit is on disk (the version recorded, then the
        // journal's "C" line flushed): the game is new, its kept old files
        // and the journal still there; the next run, declined, only sweeps.
        Scenario killed = Installed("KilledOnceTheRunIsCommitted");
        killed.faultFlush = "QuorPatch.~qj:kill:1:1";  // past the flush of the folders' lines
        killed.answers = {"yes"};
        killed.boxes = {Welcome2Box("1.01", "yes")};
        killed.exitCode = kKilled;
        killed.updateRan = true;
        killed.versionAfter = 0x10005;
        Scenario declined = Installed("DeclinedAfterACommittedRun");
        declined.answers = {"no"};
        declined.boxes = {Welcome2Box("1.05", "no")};
        declined.exitCode = -1;
        declined.sweeps = true;
        runs.emplace_back(killed, declined);
    }
    return runs;
}

std::vector<std::pair<Scenario, Scenario>> DeltaRunsAfterAStop() {
    std::vector<std::pair<Scenario, Scenario>> pairs;
    {
        Scenario killed = DeltaInstalled("DeltaKilledInTheMiddleOfTheMap", "1.03");
        killed.faultKill = "KINGSFALL.MAP.~qp:1000";
        killed.answers = {"yes"};
        killed.boxes = {Welcome2Box("1.03", "yes")};
        killed.exitCode = kKilled;
        killed.shortcuts = {};
        killed.versionAfter.reset();
        // The units were rebuilt but wait in the batch, not yet moved in.
        killed.notCopied = {"data\\units.dat", kMapPath, "sounds\\intro.wav"};
        killed.leftovers = {"data\\UNITS.DAT.~qp", "maps\\KINGSFALL.MAP.~qp"};
        // Each file is rebuilt from its old bytes.
        pairs.emplace_back(killed, DeltaInstalled("DeltaRunAfterTheKill", "1.03"));
    }
    {
        // Killed rebuilding a renamed file in the folder the rebuild made:
        // the next run removes that folder too.
        Scenario killed = WithRenamedEngine(DeltaInstalled("DeltaKilledInTheRenamedEngine", "1.03"));
        killed.faultKill = "ENGINE-1.5.DLL.~qp:1000";
        killed.answers = {"yes"};
        killed.boxes = {Welcome2Box("1.03", "yes")};
        killed.exitCode = kKilled;
        killed.shortcuts = {};
        killed.versionAfter.reset();
        killed.removed.clear();
        killed.notCopied = {"data\\units.dat", kMapPath, "sounds\\intro.wav", "engine\\engine-1.5.dll"};
        killed.leftovers = {"data\\UNITS.DAT.~qp", "engine\\ENGINE-1.5.DLL.~qp"};
        pairs.emplace_back(killed, WithRenamedEngine(DeltaInstalled("DeltaRenamedEngineRunAfterTheKill", "1.03")));
    }
    {
        Scenario aborted = DeltaPatches()[2];
        Scenario again = DeltaInstalled("DeltaRunAfterRestoringTheMap", "1.03");
        again.restoreBefore = {again.gameFiles[2]};
        pairs.emplace_back(aborted, again);
    }
    return pairs;
}

std::vector<Scenario> PowerCutPatches() {
    auto guarded = [](const std::string& name) {
        Scenario s = Complete(name);
        s.gameFiles[1].readOnly = true;
        s.gameFiles[1].dosAttributes = 0x2;
        return s;
    };
    Scenario threeBatches = guarded("ThreeBatches");
    // A batch ends once it holds 8 MB: the first with the first film, the
    // second with the other, the third with what follows. Repeated 4 KB
    // pieces, so that the patch stays small and fast to unpack.
    for (uint32_t film = 1; film <= 2; ++film) {
        std::string bytes;
        for (const std::string piece = Bytes(4096, film); bytes.size() < (8u << 20);) bytes += piece;
        threeBatches.patchFiles.push_back({"movies\\intro" + std::to_string(film) + ".bik", bytes});
    }
    Scenario linked = guarded("GameFolderLinkedToAnotherDrive");
    linked.gameFolderLinked = true;
    // Abort at the last file: the walk cuts the undo's moves and flush too.
    Scenario aborted = guarded("AbortedAtTheLastFile");
    aborted.faultOpen = "ZAVOVUDIZ.EXE.~qp:5:1";
    aborted.answers = {"yes", "abort", "ok"};
    aborted.boxes = {Welcome2Box("1.01", "yes"), CopyError("ZLN\\ZAVOVUDIZ.EXE", "abort"), Fatal(kNotComplete)};
    aborted.exitCode = -1;
    aborted.versionAfter.reset();
    aborted.shortcuts.clear();
    aborted.asInstalled = true;
    // Rebuilt files, and removals: a file and a read-only hidden one whose
    // folder goes with it; on a volume that cannot be flushed whole, each
    // removal's move is written through.
    Scenario removals = WithRemovals(DeltaInstalled("DeltaWithRemovals", "1.03"));
    removals.removed = {"data\\old.dat", "old\\gone.pak", "old\\"};
    Scenario removalsLinked = removals;
    removalsLinked.name = "DeltaWithRemovalsInALinkedGameFolder";
    removalsLinked.gameFolderLinked = true;
    return {guarded("OneBatch"), threeBatches, linked, aborted, removals, removalsLinked};
}

const std::vector<Scenario>& AllScenarios() {
    static const std::vector<Scenario> all = BuildScenarios();
    return all;
}

}  // namespace e2e
