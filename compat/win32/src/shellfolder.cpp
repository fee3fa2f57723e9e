// Special folders. The one provided is CSIDL_PROGRAMS, the Start-menu
// Programs folder: the Windows path in W32_PROGRAMS_DIR, by default
// C:\Windows\Start Menu\Programs (found through the drive mapping like any
// other path; this layer does not create it). Its item-id list is one item
// holding a marker and the path, then the terminating zero item, allocated
// with the task allocator as the caller expects.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char kDefaultPrograms[] = "C:\\Windows\\Start Menu\\Programs";
const char kMarker[4] = {'W', '3', '2', 'P'};

std::string ProgramsPath()
{
    const char* path = std::getenv("W32_PROGRAMS_DIR");
    return path != nullptr && *path != '\0' ? path : kDefaultPrograms;
}

} // namespace

HRESULT WINAPI SHGetSpecialFolderLocation(HWND, int folder, LPITEMIDLIST* idList)
{
    if (idList == nullptr)
        return E_INVALIDARG;
    *idList = nullptr;
    if (folder != CSIDL_PROGRAMS)
        return E_INVALIDARG;
    const std::string path = ProgramsPath();
    if (path.size() >= MAX_PATH)
        return E_FAIL;
    // Item: size (2 bytes), marker, path with its NUL; then a zero size.
    const size_t itemSize = 2 + sizeof kMarker + path.size() + 1;
    BYTE* block = static_cast<BYTE*>(CoTaskMemAlloc(itemSize + 2));
    if (block == nullptr)
        return E_OUTOFMEMORY;
    const USHORT cb = static_cast<USHORT>(itemSize);
    std::memcpy(block, &cb, 2);
    std::memcpy(block + 2, kMarker, sizeof kMarker);
    std::memcpy(block + 2 + sizeof kMarker, path.c_str(), path.size() + 1);
    std::memset(block + itemSize, 0, 2);
    *idList = reinterpret_cast<LPITEMIDLIST>(block);
    return S_OK;
}

BOOL WINAPI SHGetPathFromIDListA(LPCITEMIDLIST idList, LPSTR path)
{
    if (path == nullptr)
        return FALSE;
    path[0] = '\0';
    if (idList == nullptr)
        return FALSE;
    const BYTE* block = reinterpret_cast<const BYTE*>(idList);
    USHORT cb;
    std::memcpy(&cb, block, 2);
    const size_t header = 2 + sizeof kMarker;
    if (cb <= header || std::memcmp(block + 2, kMarker, sizeof kMarker) != 0)
        return FALSE;
    const char* text = reinterpret_cast<const char*>(block + header);
    const size_t length = strnlen(text, cb - header);
    if (length >= MAX_PATH || length == cb - header)
        return FALSE;
    std::memcpy(path, text, length + 1);
    return TRUE;
}

void WINAPI ILFree(LPITEMIDLIST idList)
{
    CoTaskMemFree(idList);
}
