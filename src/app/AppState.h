// Process-wide state of one patch run, owned by the run sequence and shared
// by its stages.
#pragma once

#include <cstdint>

#include "platform/Win32.h"

class CHashIni;

constexpr uint32_t kPathSize = 256;    // every path and short text buffer
constexpr uint32_t kTextSize = 4096;   // the looked-up text

// The game's registry key under HKEY_LOCAL_MACHINE and its values.
extern const char kGameKey[];          // "SOFTWARE\Orvandel\Quor"
extern const char kValuePath[];        // "Path"
extern const char kValueGameVersion[]; // "GameVersion"
extern const char kValueLanguage[];    // "Language"

extern HINSTANCE g_Instance;
extern char g_GameFolder[kPathSize];   // ends in a backslash once set
extern CHashIni* g_Strings;
extern char g_TextBuffer[kTextSize];
extern volatile uint8_t g_UpdateFailed;  // written by the copy worker, or after the dialog when none ran
extern HWND g_ProgressDialog;
extern int32_t g_ShortcutCount;
