// The windows of this host layer: dialogs shown by DialogBoxParamA and the
// controls handed out by GetDlgItem. A window is known by its handle until the
// process ends; its id is the dialog's resource id or the control's id.
#pragma once

#include <windows.h>

namespace w32host {

bool IsKnownWindow(HWND window);

// The id recorded in the transcript for a window, or -1 for an unknown one.
long long WindowId(HWND window);

} // namespace w32host
