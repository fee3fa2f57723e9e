// The shell: special folders as item-id lists and the shell link object.
// CSIDL_PROGRAMS is the Windows path in W32_PROGRAMS_DIR, by default
// C:\Windows\Start Menu\Programs (see compat/win32/src/shellfolder.cpp).
#pragma once

#include "com.h"

typedef struct _SHITEMID {
    USHORT cb;
    BYTE abID[1];
} SHITEMID;
typedef struct _ITEMIDLIST {
    SHITEMID mkid;
} ITEMIDLIST;
typedef ITEMIDLIST* LPITEMIDLIST;
typedef const ITEMIDLIST* LPCITEMIDLIST;
typedef ITEMIDLIST* PIDLIST_ABSOLUTE;
typedef const ITEMIDLIST* PCIDLIST_ABSOLUTE;

#define CSIDL_PROGRAMS 0x0002

HRESULT WINAPI SHGetSpecialFolderLocation(HWND owner, int folder, LPITEMIDLIST* idList);
BOOL WINAPI SHGetPathFromIDListA(LPCITEMIDLIST idList, LPSTR path);
void WINAPI ILFree(LPITEMIDLIST idList);

// Flags of IShellLinkA::GetPath.
#define SLGP_SHORTPATH 0x1
#define SLGP_UNCPRIORITY 0x2
#define SLGP_RAWPATH 0x4

struct IShellLinkA : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetPath(LPSTR file, int size, struct _WIN32_FIND_DATAA* findData,
                                              DWORD flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIDList(LPITEMIDLIST* idList) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetIDList(LPCITEMIDLIST idList) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDescription(LPSTR name, int size) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDescription(LPCSTR name) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetWorkingDirectory(LPSTR dir, int size) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetWorkingDirectory(LPCSTR dir) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetArguments(LPSTR args, int size) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetArguments(LPCSTR args) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetHotkey(WORD* hotkey) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetHotkey(WORD hotkey) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetShowCmd(int* showCmd) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetShowCmd(int showCmd) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIconLocation(LPSTR iconPath, int size, int* iconIndex) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetIconLocation(LPCSTR iconPath, int iconIndex) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetRelativePath(LPCSTR pathRel, DWORD reserved) = 0;
    virtual HRESULT STDMETHODCALLTYPE Resolve(HWND window, DWORD flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetPath(LPCSTR file) = 0;

protected:
    ~IShellLinkA() = default;
};

extern const CLSID CLSID_ShellLink;
extern const IID IID_IShellLinkA;
