// The component object model subset: per-thread initialisation counts, the
// one creatable class (the shell link) and the task allocator.
#include "HostShellLink.h"

#include <windows.h>

#include <cstdlib>
#include <mutex>
#include <set>

const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IPersist = {0x0000010C, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IPersistFile = {0x0000010B, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const CLSID CLSID_ShellLink = {0x00021401, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IShellLinkA = {0x000214EE, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

namespace {

thread_local int t_InitCount = 0;

// Blocks handed out stay reachable until freed: programs commonly keep a
// shell item-id list to the end, which Windows forgives, and so does the
// leak checker of a sanitizer build.
std::mutex g_BlocksMutex;
std::set<void*>* g_Blocks = new std::set<void*>;

} // namespace

namespace w32host {

bool ComInitialized()
{
    return t_InitCount > 0;
}

} // namespace w32host

HRESULT WINAPI CoInitialize(LPVOID reserved)
{
    return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED);
}

HRESULT WINAPI CoInitializeEx(LPVOID, DWORD)
{
    return t_InitCount++ == 0 ? S_OK : S_FALSE;
}

void WINAPI CoUninitialize(void)
{
    if (t_InitCount > 0)
        --t_InitCount;
}

HRESULT WINAPI CoCreateInstance(REFCLSID classId, LPUNKNOWN outer, DWORD context, REFIID riid, LPVOID* object)
{
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (!w32host::ComInitialized())
        return CO_E_NOTINITIALIZED;
    if (!IsEqualCLSID(classId, CLSID_ShellLink) || (context & CLSCTX_INPROC_SERVER) == 0)
        return REGDB_E_CLASSNOTREG;
    if (outer != nullptr)
        return CLASS_E_NOAGGREGATION;
    return w32host::CreateShellLink(riid, object);
}

LPVOID WINAPI CoTaskMemAlloc(SIZE_T size)
{
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block != nullptr) {
        std::lock_guard<std::mutex> lock(g_BlocksMutex);
        g_Blocks->insert(block);
    }
    return block;
}

void WINAPI CoTaskMemFree(LPVOID block)
{
    if (block == nullptr)
        return;
    {
        std::lock_guard<std::mutex> lock(g_BlocksMutex);
        g_Blocks->erase(block);
    }
    std::free(block);
}
