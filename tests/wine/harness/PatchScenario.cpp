#include "PatchScenario.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <sstream>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "ChildProcess.h"
#include "TempDir.h"
#include "HostTranscript.h"
#include "Installation.h"
#include "SampleInstall.h"
#include "WineRun.h"

namespace winebox {
namespace {

const char kRegistryHeader[] = "Windows Registry Editor Version 5.00\r\n\r\n";

// The game's key in a view as Wine's system.reg names it (below HKLM).
std::string HiveKey(sample::RegistryView view) {
    return sample::GameKeyName(view).substr(std::strlen("HKEY_LOCAL_MACHINE\\"));
}

// What of the scenario this runner cannot set up; empty when nothing.
std::string Unsupported(const ScenarioRun& s) {
    const bool faults = !s.faultWrite.empty() || !s.faultOpen.empty() || !s.faultKill.empty() ||
                        !s.faultMove.empty() || !s.faultFlush.empty() || s.faultThread || s.faultDialog ||
                        !s.faultMutex.empty() || !s.faultRegistry.empty();
    if (faults) return "host-layer faults";
    if (!s.strings.empty() || !s.patchFiles.empty() || !s.extraEntries.empty() || !s.bases.empty() ||
        s.layout != e2e::PayloadLayout::kTool || s.undecodableFrom || s.withoutChecksum)
        return "a patch of its own (it runs the patch it is given)";
    if (s.localPack.kind != e2e::PackKind::kNone || s.localPackBlockSize) return "a local pack";
    if (s.gameRunning) return "a running game";
    if (!s.restoreBefore.empty() || !s.programsFolders.empty() || !s.programsFiles.empty())
        return "files outside the game folder or written just before the run";
    return "";
}

// The installation in a fresh scenario folder; empty, or what failed.
std::string PrepareInstallation(const ScenarioRun& scenario, const std::string& dir) {
    if (std::string unsupported = Unsupported(scenario); !unsupported.empty())
        return scenario.name + ": this suite cannot set up " + unsupported;
    std::filesystem::create_directories(dir + "/c/Games/Quor");
    std::filesystem::create_directories(dir + "/c/Menu/Programs");
    std::filesystem::create_directories(dir + "/mutex");
    WriteText(dir + "/registry.reg", e2e::RegistryText(scenario));
    return e2e::WriteGameFolder(scenario, dir + "/c/Games/Quor");
}

uint32_t Checksum(const std::string& bytes) {  // FNV-1a
    uint32_t h = 2166136261u;
    for (unsigned char c : bytes) h = (h ^ c) * 16777619u;
    return h;
}

// " R", " H", " S" for a read-only, hidden or system file; hidden and system
// as both Wine and the host layer keep them ("user.DOSATTRIB", "0x<hex>").
std::string AttributeMarks(const std::string& path, const struct stat& st) {
    std::string marks;
    if (!(st.st_mode & S_IWUSR)) marks += " R";
    char text[32] = {};
    ssize_t length = getxattr(path.c_str(), "user.DOSATTRIB", text, sizeof text - 1);
    unsigned long bits = length > 0 ? std::strtoul(text, nullptr, 16) : 0;
    if (bits & 0x2) marks += " H";
    if (bits & 0x4) marks += " S";
    return marks;
}

void ListTree(const std::string& root, const std::string& relative, std::vector<std::string>* lines,
              const std::string& onlySuffix) {
    DIR* dir = opendir((root + relative).c_str());
    if (!dir) return;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        std::string path = relative + "/" + name;
        struct stat st;
        if (lstat((root + path).c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            if (onlySuffix.empty()) lines->push_back(path + "/");
            ListTree(root, path, lines, onlySuffix);
        } else if (onlySuffix.empty()) {
            char line[64];
            std::snprintf(line, sizeof line, " %lld %08x%s", static_cast<long long>(st.st_size),
                          Checksum(ReadText(root + path)), AttributeMarks(root + path, st).c_str());
            lines->push_back(path + line);
        } else if (path.size() >= onlySuffix.size() &&
                   path.compare(path.size() - onlySuffix.size(), onlySuffix.size(), onlySuffix) == 0) {
            lines->push_back(path);
        }
    }
    closedir(dir);
    std::sort(lines->begin(), lines->end());
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& line : lines) out += line + "\n";
    return out;
}

// Files, shortcuts and their fields after a run.
// The lines of a log without their times ("12:00:00.000 ").
std::vector<std::string> LogLines(const std::string& path) {
    std::vector<std::string> lines;
    std::istringstream text(ReadText(path));
    for (std::string line; std::getline(text, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line.size() > 13 ? line.substr(13) : line);
    }
    return lines;
}

void Observe(const std::string& gameFolder, const std::string& programs, Observation* seen) {
    std::vector<std::string> files;
    ListTree(gameFolder, "", &files, "");
    seen->files = Joined(files);
    ListTree(programs, "", &seen->links, ".lnk");
    for (const std::string& link : seen->links) {
        LnkFile fields = ReadLnk(ReadText(programs + link));
        if (!fields.error.empty()) seen->error = link + ": " + fields.error;
        seen->linkFields.push_back(fields);
    }
}

}  // namespace

std::string TranscriptLine(const std::string& caption, const std::string& text, uint32_t type,
                           const std::string& answer) {
    return w32host::TranscriptLine("MessageBoxA")
        .Text("caption", caption.c_str())
        .Text("text", text.c_str())
        .Number("type", type)
        .Text("answer", answer.c_str())
        .Json();
}

std::string StringsValue(const std::string& stringsFile, const std::string& key) {
    std::istringstream lines(ReadText(stringsFile));
    std::string line, section, value;
    while (std::getline(lines, line)) {
        line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
        if (!line.empty() && line[0] == '[') {
            section = line.substr(1, line.find(']') - 1);
            continue;
        }
        size_t equals = line.find('=');
        if (section != "str" || equals == std::string::npos) continue;
        auto trim = [](std::string s) {
            s.erase(0, s.find_first_not_of(" \t"));
            s.erase(s.find_last_not_of(" \t") + 1);
            return s;
        };
        if (trim(line.substr(0, equals)) == key) value = trim(line.substr(equals + 1));
    }
    std::replace(value.begin(), value.end(), '|', '\n');
    return value;
}

ScenarioRun::ScenarioRun() {
    name = "a Wine scenario";
    registryPath = e2e::kGameFolder;
    gameVersion = 0x10001;
}

Observation RunOnLinux(const ScenarioRun& scenario) {
    Observation seen;
    TempDir scenarioDir("scenario");
    const std::string dir = scenarioDir.Path();
    seen.error = PrepareInstallation(scenario, dir);
    if (!seen.error.empty()) return seen;
    std::string joined;
    for (const std::string& answer : scenario.answers) joined += (joined.empty() ? "" : ",") + answer;
    std::vector<std::string> env = {"W32_DRIVE_C=" + dir + "/c", "W32_REGISTRY_FILE=" + dir + "/registry.reg",
                                    "W32_TRANSCRIPT=" + dir + "/transcript.jsonl", "W32_ANSWERS=" + joined,
                                    "W32_MUTEX_DIR=" + dir + "/mutex", "W32_PROGRAMS_DIR=C:\\Menu\\Programs"};
    std::string commandLine = scenario.commandLine;
    if (commandLine.empty() && !scenario.switches.empty()) commandLine = "\"" + scenario.patch + "\"";
    for (const std::string& word : scenario.switches) commandLine += " " + word;
    if (!commandLine.empty()) env.push_back("W32_COMMAND_LINE=" + commandLine);
    CommandResult run = RunCommand({scenario.patch}, env, 60);
    if (!run.finished) seen.error = "the Linux patcher did not end within 60 s";
    seen.exitCode = run.exitCode;
    std::istringstream transcript(ReadText(dir + "/transcript.jsonl"));
    std::string line;
    while (std::getline(transcript, line))
        if (line.rfind("{\"call\":\"MessageBoxA\"", 0) == 0) seen.boxes.push_back(line);
    std::string registry = ReadText(dir + "/registry.reg");
    seen.gameVersion = sample::RegistryGameVersion(registry, sample::RegistryView::k32Bit);
    seen.gameVersion64 = sample::RegistryGameVersion(registry, sample::RegistryView::k64Bit);
    Observe(dir + "/c/Games/Quor", dir + "/c/Menu/Programs", &seen);
    seen.log = LogLines(dir + "/c/Games/patch.log");
    return seen;
}

Observation RunOnWine(const WinePrefix& prefix, const ScenarioRun& scenario) {
    Observation seen;
    TempDir scenarioDir("scenario");
    const std::string dir = scenarioDir.Path();
    seen.error = PrepareInstallation(scenario, dir);
    if (!seen.error.empty()) return seen;
    // Drive C:'s game folder is this scenario's; the registry starts from its text.
    std::string games = prefix.DriveC() + "/Games";
    TempDir::RemoveAll(games);
    std::remove(games.c_str());
    if (symlink((dir + "/c/Games").c_str(), games.c_str()) != 0) seen.error = "cannot link " + games;
    // The registry starts from the scenario's keys alone: both views' Orvandel keys go first.
    const std::string keys = e2e::RegistryText(scenario);
    WriteText(dir + "/reset.reg", kRegistryHeader +
                                      std::string("[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvandel]\r\n\r\n"
                                                  "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Orvandel]\r\n\r\n") +
                                      keys.substr(keys.compare(0, std::strlen(kRegistryHeader), kRegistryHeader) == 0
                                                      ? std::strlen(kRegistryHeader)
                                                      : 0));
    std::string programs = prefix.ProgramsDir();
    std::vector<std::string> oldLinks;
    ListTree(programs, "", &oldLinks, ".lnk");
    for (const std::string& link : oldLinks) std::remove((programs + link).c_str());
    if (seen.error.empty()) prefix.ImportRegistry(dir + "/reset.reg", &seen.error);
    if (seen.error.empty()) {
        RunRequest request;
        request.program = scenario.patch;
        request.answers = scenario.answers;
        request.arguments = scenario.switches;
        request.workDir = dir;
        request.shotPrefix = scenario.shotPrefix;
        RunOutcome outcome = RunWithAnswers(prefix, request);
        seen.error = outcome.error;
        seen.exitCode = outcome.exitCode;
        seen.dialog = outcome.dialog;
        seen.boxShots = outcome.boxShots;
        seen.dialogShot = outcome.dialogShot;
        for (const BoxCall& box : outcome.boxes) {
            if (box.truncated) seen.error = "the relay trace cut the text of a box";
            seen.boxes.push_back(TranscriptLine(box.caption, box.text, box.type,
                                                box.returned ? AnswerForButton(box.result) : ""));
        }
        if (!prefix.WaitForServer(30)) seen.error = "wineserver did not end";
        SystemHive hive;
        if (hive.Load(prefix.Path() + "/system.reg")) {
            seen.gameVersion = hive.Dword(HiveKey(sample::RegistryView::k32Bit), "GameVersion");
            seen.gameVersion64 = hive.Dword(HiveKey(sample::RegistryView::k64Bit), "GameVersion");
        }
        Observe(dir + "/c/Games/Quor", programs, &seen);
        seen.log = LogLines(dir + "/c/Games/patch.log");
    }
    std::remove(games.c_str());
    return seen;
}

}  // namespace winebox
