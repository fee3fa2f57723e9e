// The shell link object: IShellLinkA holds the link's texts, IPersistFile
// saves them as a .lnk file (format in HostLnk.h) through the file calls of
// this layer, so the link path goes through the drive mapping. Save stores
// the target's relative path (from the link's folder, or from the path given
// to SetRelativePath) and, when the target exists, its attributes, size and
// times. A failed write leaves no partial link behind.
#include "HostLnk.h"
#include "HostShellLink.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

HRESULT CopyOut(const std::string& text, LPSTR buffer, int size)
{
    if (buffer == nullptr || size <= 0)
        return E_INVALIDARG;
    const size_t length = text.size() < static_cast<size_t>(size) ? text.size() : static_cast<size_t>(size) - 1;
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
    return S_OK;
}

HRESULT Store(std::string& field, LPCSTR text)
{
    if (text == nullptr)
        return E_INVALIDARG;
    field = text;
    return S_OK;
}

uint64_t FileTimeValue(const FILETIME& time)
{
    return static_cast<uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

w32host::LnkTargetInfo FindTarget(const std::string& path)
{
    w32host::LnkTargetInfo info;
    if (path.empty())
        return info;
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return info;
    FindClose(search);
    info.known = true;
    info.attributes = found.dwFileAttributes;
    info.creationTime = FileTimeValue(found.ftCreationTime);
    info.accessTime = FileTimeValue(found.ftLastAccessTime);
    info.writeTime = FileTimeValue(found.ftLastWriteTime);
    info.size = found.nFileSizeLow;
    return info;
}

bool WideToAnsi(LPCOLESTR wide, std::string* ansi)
{
    const int length = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return false;
    std::vector<char> buffer(static_cast<size_t>(length));
    BOOL replaced = FALSE;
    WideCharToMultiByte(CP_ACP, 0, wide, -1, buffer.data(), length, nullptr, &replaced);
    if (replaced)
        return false;
    ansi->assign(buffer.data());
    return true;
}

// Writes the whole file; on failure removes what was written and returns the error.
DWORD WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                    nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError();
    DWORD written = 0;
    const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    DWORD error = ok && written == bytes.size() ? ERROR_SUCCESS : GetLastError();
    if (error == ERROR_SUCCESS && ok && written != bytes.size())
        error = ERROR_WRITE_FAULT;
    if (!CloseHandle(file) && error == ERROR_SUCCESS)
        error = GetLastError();
    if (error != ERROR_SUCCESS)
        DeleteFileA(path.c_str());
    return error;
}

class ShellLink final : public IShellLinkA, public IPersistFile {
public:
    ShellLink() = default;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        if (object == nullptr)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IShellLinkA))
            *object = static_cast<IShellLinkA*>(this);
        else if (IsEqualIID(riid, IID_IPersistFile) || IsEqualIID(riid, IID_IPersist))
            *object = static_cast<IPersistFile*>(this);
        else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --references_;
        if (left == 0)
            delete this;
        return left;
    }

    // IShellLinkA
    HRESULT STDMETHODCALLTYPE GetPath(LPSTR file, int size, WIN32_FIND_DATAA* findData, DWORD) override
    {
        if (findData != nullptr)
            std::memset(findData, 0, sizeof *findData);
        const HRESULT hr = CopyOut(link_.target, file, size);
        return FAILED(hr) ? hr : link_.target.empty() ? S_FALSE : S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetIDList(LPITEMIDLIST* idList) override
    {
        if (idList != nullptr)
            *idList = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetIDList(LPCITEMIDLIST) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDescription(LPSTR name, int size) override
    {
        return CopyOut(link_.description, name, size);
    }
    HRESULT STDMETHODCALLTYPE SetDescription(LPCSTR name) override { return Changed(Store(link_.description, name)); }
    HRESULT STDMETHODCALLTYPE GetWorkingDirectory(LPSTR dir, int size) override
    {
        return CopyOut(link_.workingDirectory, dir, size);
    }
    HRESULT STDMETHODCALLTYPE SetWorkingDirectory(LPCSTR dir) override
    {
        return Changed(Store(link_.workingDirectory, dir));
    }
    HRESULT STDMETHODCALLTYPE GetArguments(LPSTR args, int size) override
    {
        return CopyOut(link_.arguments, args, size);
    }
    HRESULT STDMETHODCALLTYPE SetArguments(LPCSTR args) override { return Changed(Store(link_.arguments, args)); }
    HRESULT STDMETHODCALLTYPE GetHotkey(WORD* hotkey) override
    {
        if (hotkey == nullptr)
            return E_INVALIDARG;
        *hotkey = link_.hotKey;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetHotkey(WORD hotkey) override
    {
        link_.hotKey = hotkey;
        return Changed(S_OK);
    }
    HRESULT STDMETHODCALLTYPE GetShowCmd(int* showCmd) override
    {
        if (showCmd == nullptr)
            return E_INVALIDARG;
        *showCmd = static_cast<int>(link_.showCommand);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetShowCmd(int showCmd) override
    {
        link_.showCommand = static_cast<uint32_t>(showCmd);
        return Changed(S_OK);
    }
    HRESULT STDMETHODCALLTYPE GetIconLocation(LPSTR iconPath, int size, int* iconIndex) override
    {
        if (iconIndex == nullptr)
            return E_INVALIDARG;
        *iconIndex = link_.iconIndex;
        return CopyOut(link_.iconLocation, iconPath, size);
    }
    HRESULT STDMETHODCALLTYPE SetIconLocation(LPCSTR iconPath, int iconIndex) override
    {
        link_.iconIndex = iconIndex;
        return Changed(Store(link_.iconLocation, iconPath));
    }
    HRESULT STDMETHODCALLTYPE SetRelativePath(LPCSTR pathRel, DWORD) override
    {
        return Changed(Store(relativeTo_, pathRel));
    }
    HRESULT STDMETHODCALLTYPE Resolve(HWND, DWORD) override { return link_.target.empty() ? E_FAIL : S_OK; }
    HRESULT STDMETHODCALLTYPE SetPath(LPCSTR file) override { return Changed(Store(link_.target, file)); }

    // IPersistFile
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* classId) override
    {
        if (classId == nullptr)
            return E_POINTER;
        *classId = CLSID_ShellLink;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsDirty() override { return dirty_ ? S_OK : S_FALSE; }
    // Reading links back is not needed by the program.
    HRESULT STDMETHODCALLTYPE Load(LPCOLESTR, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Save(LPCOLESTR fileName, BOOL remember) override
    {
        std::string path;
        if (fileName == nullptr) {
            if (currentFile_.empty())
                return E_INVALIDARG;
            path = currentFile_;
        } else if (!WideToAnsi(fileName, &path)) {
            return HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
        }
        w32host::LnkContents contents = link_;
        contents.relativePath = w32host::RelativeLinkPath(relativeTo_.empty() ? path : relativeTo_, link_.target);
        contents.targetInfo = FindTarget(link_.target);
        std::vector<uint8_t> bytes;
        if (!w32host::BuildLnk(contents, &bytes))
            return E_INVALIDARG;
        if (const DWORD error = WriteWholeFile(path, bytes); error != ERROR_SUCCESS)
            return HRESULT_FROM_WIN32(error);
        if (remember || fileName == nullptr) {
            currentFile_ = path;
            dirty_ = false;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SaveCompleted(LPCOLESTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR* fileName) override
    {
        if (fileName == nullptr)
            return E_POINTER;
        *fileName = nullptr;
        if (currentFile_.empty())
            return S_FALSE;
        const int length = MultiByteToWideChar(CP_ACP, 0, currentFile_.c_str(), -1, nullptr, 0);
        LPOLESTR copy = static_cast<LPOLESTR>(CoTaskMemAlloc(sizeof(OLECHAR) * static_cast<size_t>(length)));
        if (copy == nullptr)
            return E_OUTOFMEMORY;
        MultiByteToWideChar(CP_ACP, 0, currentFile_.c_str(), -1, copy, length);
        *fileName = copy;
        return S_OK;
    }

private:
    ~ShellLink() = default;

    HRESULT Changed(HRESULT hr)
    {
        if (SUCCEEDED(hr))
            dirty_ = true;
        return hr;
    }

    ULONG references_ = 1;
    w32host::LnkContents link_;
    std::string relativeTo_;
    std::string currentFile_;
    bool dirty_ = false;
};

} // namespace

namespace w32host {

HRESULT CreateShellLink(REFIID riid, void** object)
{
    ShellLink* link = new ShellLink;
    const HRESULT hr = link->QueryInterface(riid, object);
    link->Release(); // the reference QueryInterface took is the caller's
    return hr;
}

} // namespace w32host
