// The shell link object behind CoCreateInstance(CLSID_ShellLink).
#pragma once

#include <windows.h>

namespace w32host {

HRESULT CreateShellLink(REFIID riid, void** object);

// Whether CoInitialize is in effect on the calling thread.
bool ComInitialized();

} // namespace w32host
