#include "app/AppState.h"

const char kGameKey[] = "SOFTWARE\\Orvandel\\Quor";
const char kValuePath[] = "Path";
const char kValueGameVersion[] = "GameVersion";
const char kValueLanguage[] = "Language";

HINSTANCE g_Instance = nullptr;
char g_GameFolder[kPathSize] = {0};
CHashIni* g_Strings = nullptr;
char g_TextBuffer[kTextSize] = {0};
volatile uint8_t g_UpdateFailed = 0;
HWND g_ProgressDialog = nullptr;
int32_t g_ShortcutCount = 0;
