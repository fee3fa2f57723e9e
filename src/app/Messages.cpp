#include "app/Messages.h"

#include <cstdlib>

#include "app/AppState.h"
#include "app/HashIni.h"
#include "app/SafeFormat.h"

const char* LookupText(const char* key) {
    if (!g_Strings || g_Strings->GetString("str", key, g_TextBuffer, kTextSize - 1)) {
        g_TextBuffer[0] = '\0';
        return g_TextBuffer;
    }
    for (char* p = g_TextBuffer; *p; ++p)
        if (*p == '|') *p = '\n';
    return g_TextBuffer;
}

const char* LookupTextOr(const char* key, const char* fallback) {
    const char* text = LookupText(key);
    return *text ? text : fallback;
}

int ShowFormatted(const char* key, const char* fallback, const FormatArg& argument, UINT type) {
    char caption[kPathSize];
    CopyTitle(caption);
    char text[kTextSize];
    FormatText(text, kTextSize, LookupTextOr(key, fallback), &argument, 1);
    return MessageBoxA(nullptr, text, caption, type);
}

void CopyTitle(char* caption) {
    // A title over 255 characters is cut to the caption buffer.
    CopyText(caption, kPathSize, LookupText("title"));
}

int ShowMessage(const char* key, UINT type, HWND owner) {
    char caption[kPathSize];
    CopyTitle(caption);
    return MessageBoxA(owner, LookupText(key), caption, type);
}

void FatalMessage(const char* key, HWND owner) {
    char caption[kPathSize];
    CopyTitle(caption);
    MessageBoxA(owner, LookupText(key), caption, MB_OK | MB_ICONERROR);
    std::exit(-1);
}
