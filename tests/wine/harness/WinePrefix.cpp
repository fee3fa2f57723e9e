#include "WinePrefix.h"

#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace winebox {
namespace {

const char kWineFonts[] = "/usr/share/wine/fonts";

bool IsExecutable(const std::string& path) { return access(path.c_str(), X_OK) == 0; }

std::string OnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "");
    std::string dir;
    while (std::getline(dirs, dir, ':'))
        if (!dir.empty() && IsExecutable(dir + "/" + name)) return dir + "/" + name;
    return std::string();
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}

// system.reg doubles every backslash of key names and string values.
std::string Undouble(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) ++i;
        out.push_back(s[i]);
    }
    return out;
}

}  // namespace

std::string FindWineLoader() {
    const char* configured = std::getenv("QP_WINE");
    if (configured && *configured) return IsExecutable(configured) ? configured : std::string();
    if (IsExecutable("/usr/lib/wine/wine64")) return "/usr/lib/wine/wine64";
    std::string found = OnPath("wine64");
    return found.empty() ? OnPath("wine") : found;
}

std::string FindWineServer(const std::string& loader) {
    std::string dir = loader.substr(0, loader.rfind('/') + 1);
    if (IsExecutable(dir + "wineserver")) return dir + "wineserver";
    return OnPath("wineserver");
}

bool WinePrefix::Create(std::string* error) {
    loader_ = FindWineLoader();
    server_ = FindWineServer(loader_);
    if (loader_.empty() || server_.empty()) {
        *error = "no wine loader/wineserver found (install wine64, or set QP_WINE)";
        return false;
    }
    try {
        root_ = std::make_unique<TempDir>("wine");
    } catch (const std::exception& e) {
        *error = e.what();
        return false;
    }
    if (std::getenv("QP_WINE_KEEP")) root_->Keep();
    path_ = root_->Path("prefix");
    CommandResult boot = Wine({"wineboot", "-i"}, 240);
    if (!boot.finished || boot.exitCode != 0) {
        *error = "wineboot failed: " + boot.output;
        return false;
    }
    CommandResult relay = Wine({"reg", "add", "HKCU\\Software\\Wine\\Debug", "/v", "RelayInclude", "/t", "REG_SZ",
                                "/d",
                                "user32.MessageBoxA;user32.DialogBoxParamA;user32.EndDialog;user32.SetWindowTextA;"
                                "user32.SetDlgItemTextA",
                                "/f"},
                               60);
    if (!relay.finished || relay.exitCode != 0) {
        *error = "cannot set RelayInclude: " + relay.output;
        return false;
    }
    // Debian's Wine looks for its own fonts (package fonts-wine) in the
    // prefix's Fonts folder but does not put them there: without them
    // "MS Sans Serif" would fall back to some host font.
    if (DIR* fonts = opendir(kWineFonts)) {
        while (dirent* entry = readdir(fonts)) {
            std::string name = entry->d_name;
            if (name == "." || name == "..") continue;
            std::error_code failed;
            std::filesystem::copy_file(kWineFonts + ("/" + name), DriveC() + "/windows/Fonts/" + name,
                                       std::filesystem::copy_options::overwrite_existing, failed);
            if (failed) {
                *error = "cannot copy the font " + name + " into the prefix";
                closedir(fonts);
                return false;
            }
        }
        closedir(fonts);
    }
    // Xvfb has no window manager: Wine draws the captions and frames itself.
    CommandResult unmanaged = Wine(
        {"reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed", "/t", "REG_SZ", "/d", "N", "/f"}, 60);
    if (!unmanaged.finished || unmanaged.exitCode != 0) {
        *error = "cannot set Managed: " + unmanaged.output;
        return false;
    }
    if (!WaitForServer(60)) {
        *error = "wineserver did not end after the prefix was made";
        return false;
    }
    return true;
}

WinePrefix::~WinePrefix() {
    if (path_.empty()) return;
    KillServer();
}

std::string WinePrefix::ProgramsDir() const {
    const std::string tail = "/AppData/Roaming/Microsoft/Windows/Start Menu/Programs";
    std::string users = DriveC() + "/users";
    if (DIR* dir = opendir(users.c_str())) {
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name == "." || name == ".." || name == "Public") continue;
            struct stat st;
            if (stat((users + "/" + name + tail).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
                closedir(dir);
                return users + "/" + name + tail;
            }
        }
        closedir(dir);
    }
    return std::string();
}

std::string WinePrefix::HostPathOfC(const std::string& windowsPath) const {
    std::string rest = windowsPath.size() >= 2 && windowsPath[1] == ':' ? windowsPath.substr(2) : windowsPath;
    for (char& c : rest)
        if (c == '\\') c = '/';
    return DriveC() + rest;
}

std::vector<std::string> WinePrefix::Environment(bool relay) const {
    return {"WINEPREFIX=" + path_, "WINEARCH=win64",
            // No Mono/Gecko install questions, no menu entries on the host.
            "WINEDLLOVERRIDES=mscoree,mshtml=;winemenubuilder.exe=d",
            // Wine's own errors go into the trace too, for the reports of a failed run.
            std::string("WINEDEBUG=") + (relay ? "-all,err+all,+relay" : "-all")};
}

CommandResult WinePrefix::Wine(const std::vector<std::string>& args, double seconds) const {
    std::vector<std::string> argv = {loader_};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunCommand(argv, Environment(false), seconds);
}

bool WinePrefix::WaitForServer(double seconds) const {
    CommandResult r = RunCommand({server_, "-w"}, Environment(false), seconds);
    return r.finished;
}

void WinePrefix::KillServer() const {
    RunCommand({server_, "-k"}, Environment(false), 30);
    WaitForServer(30);
}

bool WinePrefix::ImportRegistry(const std::string& regFile, std::string* error) const {
    CommandResult r = Wine({"regedit", "/s", regFile}, 60);
    if (!r.finished || r.exitCode != 0) {
        *error = "regedit /s " + regFile + " failed: " + r.output;
        return false;
    }
    return true;
}

bool SystemHive::Load(const std::string& systemRegPath) {
    values_.clear();
    keys_.clear();
    std::istringstream lines(ReadText(systemRegPath));
    std::string line, key;
    bool any = false;
    while (std::getline(lines, line)) {
        any = true;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() > 1 && line[0] == '[') {
            size_t close = line.find(']');
            key = close == std::string::npos ? std::string() : Lower(Undouble(line.substr(1, close - 1)));
            keys_.push_back(key);
            continue;
        }
        if (line.empty() || line[0] != '"' || key.empty()) continue;
        size_t end = 1;
        while (end < line.size() && line[end] != '"') end += line[end] == '\\' ? 2 : 1;
        if (end + 1 >= line.size() || line[end + 1] != '=') continue;
        values_.push_back({key, Lower(Undouble(line.substr(1, end - 1))), line.substr(end + 2)});
    }
    return any;
}

std::optional<std::string> SystemHive::RawValue(const std::string& key, const std::string& name) const {
    std::string k = Lower(key), n = Lower(name);
    for (auto it = values_.rbegin(); it != values_.rend(); ++it)
        if (it->key == k && it->name == n) return it->raw;
    return std::nullopt;
}

std::optional<uint32_t> SystemHive::Dword(const std::string& key, const std::string& name) const {
    std::optional<std::string> raw = RawValue(key, name);
    if (!raw || raw->compare(0, 6, "dword:") != 0) return std::nullopt;
    return uint32_t(std::strtoul(raw->c_str() + 6, nullptr, 16));
}

bool SystemHive::HasKey(const std::string& key) const {
    std::string k = Lower(key);
    for (const std::string& existing : keys_)
        if (existing == k) return true;
    return false;
}

}  // namespace winebox
