#include "PatchScenario.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <sstream>
#include <strings.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "ChildProcess.h"
#include "TempDir.h"
#include "HostTranscript.h"
#include "WineRun.h"

namespace winebox {
namespace {

const char kGameFolder[] = "C:\\\\Games\\\\Quor\\\\";  // as a registry-export string

const char kRegistryHeader[] = "Windows Registry Editor Version 5.00\r\n\r\n";

const char kKey32[] = "SOFTWARE\\WOW6432Node\\Orvandel\\Quor";
const char kKey64[] = "SOFTWARE\\Orvandel\\Quor";

// The game's key with its values, as a registry-export section.
std::string KeySection(const char* key, const std::string& folder, const std::string& gameVersion) {
    std::string text = "[HKEY_LOCAL_MACHINE\\" + std::string(key) + "]\r\n\"Path\"=\"" + folder + "\"\r\n";
    if (!gameVersion.empty()) text += "\"GameVersion\"=dword:" + gameVersion + "\r\n";
    return text + "\r\n";
}

// The game's keys of a scenario in the views it names.
std::string GameKeyText(const Scenario& scenario) {
    switch (scenario.keyView) {
    case KeyView::k32Bit: return KeySection(kKey32, kGameFolder, scenario.gameVersion);
    case KeyView::k64Bit: return KeySection(kKey64, kGameFolder, scenario.gameVersion);
    case KeyView::kBoth: break;
    }
    return KeySection(kKey32, kGameFolder, scenario.gameVersion) +
           KeySection(kKey64, "C:\\\\Games\\\\Quor64\\\\", "00010006");
}

// "GameVersion" under a key below HKEY_LOCAL_MACHINE of a registry-export text.
std::optional<uint32_t> ExportedVersion(const std::string& text, const std::string& key) {
    const std::string header = "[HKEY_LOCAL_MACHINE\\" + key + "]";
    const std::string name = "\"GameVersion\"=dword:";
    std::optional<uint32_t> version;
    bool inKey = false;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] == '[')
            inKey = strcasecmp(line.c_str(), header.c_str()) == 0;
        else if (inKey && strncasecmp(line.c_str(), name.c_str(), name.size()) == 0)
            version = uint32_t(std::stoul(line.substr(name.size()), nullptr, 16));
    }
    return version;
}

// The sample installation in a fresh scenario folder.
void PrepareInstallation(const Scenario& scenario, const std::string& dir) {
    std::filesystem::create_directories(dir + "/c/Menu/Programs");
    std::filesystem::create_directories(dir + "/mutex");
    WriteText(dir + "/c/Games/Quor/Quor.exe", "QUOR 1.01 game executable\n");
    WriteText(dir + "/registry.reg", kRegistryHeader + GameKeyText(scenario));
    if (scenario.prepare) scenario.prepare(dir + "/c/Games/Quor");
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

Observation RunOnLinux(const Scenario& scenario) {
    Observation seen;
    TempDir scenarioDir("scenario");
    const std::string dir = scenarioDir.Path();
    PrepareInstallation(scenario, dir);
    std::string joined;
    for (const std::string& answer : scenario.answers) joined += (joined.empty() ? "" : ",") + answer;
    std::vector<std::string> env = {"W32_DRIVE_C=" + dir + "/c", "W32_REGISTRY_FILE=" + dir + "/registry.reg",
                                    "W32_TRANSCRIPT=" + dir + "/transcript.jsonl", "W32_ANSWERS=" + joined,
                                    "W32_MUTEX_DIR=" + dir + "/mutex", "W32_PROGRAMS_DIR=C:\\Menu\\Programs"};
    if (!scenario.commandLine.empty()) env.push_back("W32_COMMAND_LINE=" + scenario.commandLine);
    CommandResult run = RunCommand({scenario.patch}, env, 60);
    if (!run.finished) seen.error = "the Linux patcher did not end within 60 s";
    seen.exitCode = run.exitCode;
    std::istringstream transcript(ReadText(dir + "/transcript.jsonl"));
    std::string line;
    while (std::getline(transcript, line))
        if (line.rfind("{\"call\":\"MessageBoxA\"", 0) == 0) seen.boxes.push_back(line);
    std::string registry = ReadText(dir + "/registry.reg");
    seen.gameVersion = ExportedVersion(registry, kKey32);
    seen.gameVersion64 = ExportedVersion(registry, kKey64);
    Observe(dir + "/c/Games/Quor", dir + "/c/Menu/Programs", &seen);
    return seen;
}

Observation RunOnWine(const WinePrefix& prefix, const Scenario& scenario) {
    Observation seen;
    TempDir scenarioDir("scenario");
    const std::string dir = scenarioDir.Path();
    PrepareInstallation(scenario, dir);
    // Drive C:'s game folder is this scenario's; the registry starts from its text.
    std::string games = prefix.DriveC() + "/Games";
    TempDir::RemoveAll(games);
    std::remove(games.c_str());
    if (symlink((dir + "/c/Games").c_str(), games.c_str()) != 0) seen.error = "cannot link " + games;
    WriteText(dir + "/reset.reg", kRegistryHeader +
                                      std::string("[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvandel]\r\n\r\n"
                                                  "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Orvandel]\r\n\r\n") +
                                      GameKeyText(scenario));
    std::string programs = prefix.ProgramsDir();
    std::vector<std::string> oldLinks;
    ListTree(programs, "", &oldLinks, ".lnk");
    for (const std::string& link : oldLinks) std::remove((programs + link).c_str());
    if (seen.error.empty()) prefix.ImportRegistry(dir + "/reset.reg", &seen.error);
    if (seen.error.empty()) {
        RunRequest request;
        request.program = scenario.patch;
        request.answers = scenario.answers;
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
            seen.gameVersion = hive.Dword(kKey32, "GameVersion");
            seen.gameVersion64 = hive.Dword(kKey64, "GameVersion");
        }
        Observe(dir + "/c/Games/Quor", programs, &seen);
    }
    std::remove(games.c_str());
    return seen;
}

}  // namespace winebox
