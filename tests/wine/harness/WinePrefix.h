// A throwaway Wine prefix for the tests: made once under a temp directory,
// with the relay trace limited to MessageBoxA and the dialog calls of the
// patcher, no Mono/Gecko install dialogs and no desktop-menu integration.
// Programs run headless under the caller's X display (the stage runs the
// tests inside xvfb-run), their windows unmanaged so that Wine draws their
// captions and frames.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "TempDir.h"

namespace winebox {

// The wine loader to use: $QP_WINE, else Debian's /usr/lib/wine/wine64, else
// wine64 or wine on PATH; empty when there is none.
std::string FindWineLoader();
// The wineserver that belongs to a loader.
std::string FindWineServer(const std::string& loader);

class WinePrefix {
public:
    // Makes a new prefix in a fresh temp directory; false with a reason if Wine fails.
    bool Create(std::string* error);
    ~WinePrefix();

    const std::string& Path() const { return path_; }
    const std::string& Loader() const { return loader_; }
    std::string DriveC() const { return path_ + "/drive_c"; }
    // Host path of the current user's Start-menu Programs folder (CSIDL_PROGRAMS).
    std::string ProgramsDir() const;
    // Host path of a Windows path on drive C: ("C:\x\y" -> <prefix>/drive_c/x/y).
    std::string HostPathOfC(const std::string& windowsPath) const;

    // Environment of every Wine process of this prefix (debug output: relay only when asked).
    std::vector<std::string> Environment(bool relay) const;
    // wine <args...>, bounded.
    CommandResult Wine(const std::vector<std::string>& args, double seconds) const;
    // Waits for the prefix's wineserver to end (it then writes the registry files).
    bool WaitForServer(double seconds) const;
    // Ends every process of the prefix and its server.
    void KillServer() const;

    // Imports a registry-export text file (regedit /s).
    bool ImportRegistry(const std::string& regFile, std::string* error) const;

private:
    std::unique_ptr<TempDir> root_;  // holds the prefix; kept when QP_WINE_KEEP is set
    std::string path_;
    std::string loader_;
    std::string server_;
};

// HKEY_LOCAL_MACHINE as Wine stores it in the prefix's system.reg.
class SystemHive {
public:
    bool Load(const std::string& systemRegPath);
    // The raw text right of '=' ("dword:00010005", "\"C:\\\\x\"") of a value
    // under a key below HKLM (e.g. "SOFTWARE\\Orvandel\\Quor"), any letter case.
    std::optional<std::string> RawValue(const std::string& key, const std::string& name) const;
    std::optional<uint32_t> Dword(const std::string& key, const std::string& name) const;
    bool HasKey(const std::string& key) const;

private:
    struct Value {
        std::string key, name, raw;
    };
    std::vector<Value> values_;
    std::vector<std::string> keys_;
};

}  // namespace winebox
