#include "app/Shortcuts.h"

#include <cstring>

#include "app/AppState.h"
#include "app/Messages.h"
#include "app/SafeFormat.h"
#include "file/PlainFileName.h"
#include "framework/AsciiText.h"
#include "platform/Win32Shell.h"

namespace {

constexpr int kWidePathSize = 260;

bool EndsInBackslash(const char* text) {
    size_t length = std::strlen(text);
    return length && text[length - 1] == '\\';
}

}  // namespace

void CreateShortcuts() {
    if (std::strcmp(LookupText("zln_shortcut"), "1") != 0) return;
    // The name becomes a file name in each folder: one that is not a plain
    // file name (a path, a drive, a device) could put it anywhere else.
    if (!IsPlainFileName(LookupText("zln_name"))) return;
    LPITEMIDLIST location = nullptr;
    if (SHGetSpecialFolderLocation(nullptr, CSIDL_PROGRAMS, &location) != S_OK) return;
    char programs[MAX_PATH];
    BOOL found = SHGetPathFromIDListA(location, programs);
    CoTaskMemFree(location);
    if (!found) return;
    g_ShortcutCount = 0;
    FindShortcutFolders(programs);
    if (g_ShortcutCount == 0) CreateShortcut(programs);
}

void FindShortcutFolders(const char* folderPath) {
    char folder[kPathSize];
    if (!CopyText(folder, kPathSize, folderPath)) return;
    if (!EndsInBackslash(folder) && !AppendText(folder, kPathSize, "\\")) return;
    char pattern[kPathSize];
    if (!CopyText(pattern, kPathSize, folder) || !AppendText(pattern, kPathSize, "*.*")) return;

    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(pattern, &entry);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        char path[kPathSize];
        // A folder whose path does not fit is neither used nor searched.
        if (!CopyText(path, kPathSize, folder) || !AppendText(path, kPathSize, entry.cFileName)) continue;
        bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (isFolder && CompareNoCase(entry.cFileName, "quor") == 0) CreateShortcut(path);
        if (isFolder && entry.cFileName[0] != '.') FindShortcutFolders(path);
    } while (FindNextFileA(search, &entry));
    FindClose(search);
}

void CreateShortcut(const char* folderPath) {
    // Texts first: LookupText's buffer is overwritten by every lookup.
    char name[kPathSize];
    CopyText(name, kPathSize, LookupText("zln_name"));
    char link[kPathSize];
    char directory[kPathSize];
    char target[kPathSize];
    bool fits = CopyText(link, kPathSize, folderPath) &&
                (EndsInBackslash(link) || AppendText(link, kPathSize, "\\")) && AppendText(link, kPathSize, name) &&
                AppendText(link, kPathSize, ".lnk") && CopyText(directory, kPathSize, g_GameFolder) &&
                AppendText(directory, kPathSize, "zln") && CopyText(target, kPathSize, directory) &&
                AppendText(target, kPathSize, "\\zavovudiz.exe");
    if (!fits) return;  // a cut path would name the wrong file

    CoInitialize(nullptr);
    IShellLinkA* shellLink = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                   reinterpret_cast<void**>(&shellLink)))) {
        IPersistFile* file = nullptr;
        if (SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
            WCHAR wideLink[kWidePathSize];
            if (!MultiByteToWideChar(CP_ACP, 0, link, -1, wideLink, kWidePathSize)) wideLink[0] = 0;
            shellLink->SetWorkingDirectory(directory);
            shellLink->SetPath(target);
            shellLink->SetIconLocation(target, 0);
            shellLink->SetDescription(name);
            file->Save(wideLink, TRUE);
            file->Release();
            ++g_ShortcutCount;
        }
        shellLink->Release();
    }
    CoUninitialize();
}
