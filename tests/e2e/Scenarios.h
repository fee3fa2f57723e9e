// The end-to-end scenarios of the patch program: how each run is set up and
// what it must show and leave behind. Runner-independent, so that the Linux
// host layer and the Windows build are held to the same expectations.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace e2e {

// Paths as the program sees them.
extern const char kGameFolder[];      // C:\Games\Quor\ (with the backslash)
extern const char kProgramsFolder[];  // the Start-menu Programs folder, on C:
extern const char kGameKey[];         // SOFTWARE\Orvandel\Quor below HKEY_LOCAL_MACHINE (32-bit view)

// Message-box types the program uses.
constexpr int kYesNoInformation = 0x44;
constexpr int kOkError = 0x10;
constexpr int kOkPlain = 0x00;
constexpr int kAbortRetryIgnoreQuestion = 0x22;

struct Box {
    std::string caption;
    std::string text;
    int type;
    std::string answer;  // the scripted button
};

// A file below a folder; path with backslashes.
struct FileSpec {
    std::string path;
    std::string content;
    bool readOnly = false;
    uint32_t dosAttributes = 0;  // hidden 0x2 and system 0x4, kept as Wine keeps them
};

// A pack entry named exactly so (relative to the pack's root, e.g.
// "FILES\..\..\EVIL.TXT"), beside the Files tree.
struct PackEntry {
    std::string name;
    std::string content;
};

// The exit code the run shows when the process was killed (SIGKILL).
constexpr int kKilled = int(int8_t(128 + 9));

// An installed version a delta patch is built against: its version as
// qptool takes it ("1.03") and its files.
struct BaseSpec {
    std::string version;
    std::vector<FileSpec> files;
};

enum class PackKind { kNone, kBlockFile, kPackFile, kGarbage };

struct LocalPack {
    PackKind kind = PackKind::kNone;
    bool compressed = false;  // wrapped in the LZSS container
    std::optional<std::string> language;  // [system] language of LOCAL\strings3.ini
    std::optional<std::string> peon;      // [objects] peon of LOCAL\strings.ini
};

enum class KeyPlace { kNone, k32BitView, k64BitView, kBothViews };

enum class PayloadLayout {
    kTool,              // as the patch tool lays it out
    kMissing,           // the bare program, no payload
    kHeaderAtBlockEnd,  // the container header starts 7 bytes before a scan block ends
};

struct Scenario {
    std::string name;

    // The patch: the shipped strings file with these changes to section
    // "str" (no value: the key is removed), and its Files tree.
    std::vector<std::pair<std::string, std::optional<std::string>>> strings;
    std::vector<FileSpec> patchFiles;
    std::vector<PackEntry> extraEntries;  // built in the test, not by the patch tool
    // With bases, the patch is built with deltas: patchFiles are the new
    // game folder and each base one old version (qptool build --base ...).
    std::vector<BaseSpec> bases;
    PayloadLayout layout = PayloadLayout::kTool;
    // The container block that holds this text of the pack made undecodable
    // (its first token a match reaching before the block's start), the
    // checksum entry's stored CRC taken over the spoiled block.
    std::optional<std::string> undecodableFrom;
    bool withoutChecksum = false;  // built here with no checksum entry

    // The installation. The game's key lies where its 32-bit installer puts
    // it on 64-bit Windows, the registry's 32-bit view, unless placed otherwise.
    KeyPlace registryKey = KeyPlace::k32BitView;
    std::optional<std::string> registryPath;
    std::optional<uint32_t> localPackBlockSize;  // the local pack's container says this block size
    std::optional<uint32_t> gameVersion;
    std::optional<std::string> language;
    // With KeyPlace::kBothViews: the values of the 64-bit view's key.
    std::optional<std::string> registryPath64;
    std::optional<uint32_t> gameVersion64;
    // Registry-export value lines added to the 32-bit view's key, for values
    // stored with another type or size than the game's installer gives them.
    std::vector<std::string> registryLines;
    bool gameExecutable = true;
    LocalPack localPack;
    std::vector<std::string> gameFolders;     // present before the run, below the game folder
                                              // (one may stand where the patch puts a file)
    std::vector<FileSpec> gameFiles;          // present before the run, below the game folder
    std::vector<std::string> programsFolders;  // created below Programs
    std::vector<std::string> programsFiles;    // plain files below Programs

    // The run.
    // The command line (W32_COMMAND_LINE), {patch} standing for the patch's
    // host path and {bare} for the patcher without a payload; empty: the
    // patch's own path in double quotes, as a double click gives it.
    std::string commandLine;
    bool gameRunning = false;
    std::vector<FileSpec> restoreBefore;  // written into the game folder just before the run
    std::vector<std::string> answers;
    std::string faultWrite;  // W32_FAULT_WRITE, with {game} standing for the game folder's host path
    std::string faultOpen;   // W32_FAULT_OPEN, likewise
    std::string faultKill;   // W32_FAULT_KILL, likewise
    std::string faultMove;   // W32_FAULT_MOVE, likewise
    std::string faultFlush;  // W32_FAULT_FLUSH, likewise
    std::string faultSpace;  // W32_FAULT_SPACE: the bytes free on every volume
    bool faultThread = false;  // the worker thread cannot be started
    int threadsThatStart = -1;  // as many threads start (the worker first), none after; -1: all
    bool faultDialog = false;  // the progress dialog cannot be created
    std::string faultMutex;     // W32_FAULT_MUTEX: the Win32 error of CreateMutexA
    std::string faultRegistry;  // W32_FAULT_REGISTRY: "open" or "set", a Win32 error
    std::string faultPower;     // W32_FAULT_POWER: the durability event at which the power goes
    bool gameFolderLinked = false;  // the game folder is a link to a folder on drive D, another volume

    // Expected outcome.
    int exitCode = 0;
    std::vector<Box> boxes;
    bool updateRan = false;                    // the progress dialog ran
    bool unseen = false;                       // the update ran without its dialog (/VERYSILENT)
    // The log the run writes to C:\patch.log, each line without its time and
    // the first line ("QUOR Patch started <date>") left out; none expected
    // when empty.
    std::vector<std::string> logLines;
    // Patch files left exactly as they were (bytes and attributes; missing
    // when they were missing). Every other patch file holds the patch's bytes
    // with normal attributes. No temporary file is ever left, and nothing
    // outside the game folder and the Programs folder's links changes.
    // A run that ends with Abort (exit code -1 once the update ran) undoes
    // everything: the whole game folder is as it was, folders included.
    std::vector<std::string> notCopied;
    std::vector<std::string> leftovers;        // temporary files a killed run leaves (game-relative)
    std::vector<std::string> mayBeLeft;        // and those it may leave: written on while a helper thread (a flush or its moves) killed it
    std::optional<uint32_t> versionAfter;      // "GameVersion" of the 32-bit view afterwards (none: as before);
                                               // the 64-bit view's never changes
    std::vector<std::string> shortcuts;        // .lnk files expected below Programs
    // The game folder ends exactly as installed: the run was undone (its
    // version could not be recorded), or it first undid a run of ours that
    // died, whatever that run left.
    bool asInstalled = false;
    // Declined, the run only sweeps what a committed run of ours left: the
    // patch's files stay new.
    bool sweeps = false;
    // Game files (not in the patch) the run removes, and folders (ending in a
    // backslash) it leaves empty and removes; every other game file outside
    // the patch stays as it was.
    std::vector<std::string> removed;
};

// The shipped strings file (section "str", CRLF lines).
std::string ShippedStrings();
// The shipped strings file with the scenario's changes applied.
std::string PatchStrings(const Scenario& scenario);

// The default Files tree of the scenarios' patches.
std::vector<FileSpec> DefaultPatchFiles();

const std::vector<Scenario>& AllScenarios();

// Runs killed while they write a file of a batch, after its flush, between
// its moves and in the flush after them, over one batch and over three, each
// with the run after it on the same installation.
std::vector<std::pair<Scenario, Scenario>> KilledThenRunAgain();

// Delta patches stopped in the middle, and the run after it on the same
// installation: killed while rebuilding the map (its temporary file left),
// and aborted at a modified map, which the player then restores.
std::vector<std::pair<Scenario, Scenario>> DeltaRunsAfterAStop();

// The complete runs whose every power-cut point the walk tries: a patch of
// one batch, one of three batches (two 8 MB files, each ending a batch), and
// the first with the game folder a link to another drive. The map is
// read-only and hidden before the run.
std::vector<Scenario> PowerCutPatches();

// Test output names a scenario by its name.
void PrintTo(const Scenario& scenario, std::ostream* out);

}  // namespace e2e
