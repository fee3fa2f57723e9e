#include "app/Messages.h"

#include <cstdlib>

#include "app/AppState.h"
#include "app/HashIni.h"
#include "app/RunLog.h"
#include "app/RunOptions.h"
#include "app/SafeFormat.h"

namespace {

// A silent run's copy failure is tried again this many times, a second
// apart (a virus scanner or an indexer holding the file lets go), then the
// run is aborted.
constexpr uint32_t kSilentRetries = 3;
constexpr DWORD kSilentRetryDelay = 1000;

// The button's name as the log writes it (IDOK 1 to IDNO 7).
const char* AnswerName(int answer) {
    static const char* const names[] = {"no answer", "ok", "cancel", "abort", "retry", "ignore", "yes", "no"};
    return answer > 0 && answer <= IDNO ? names[answer] : names[0];
}

}  // namespace

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
    return AskBox(nullptr, text, caption, type);
}

void CopyTitle(char* caption) {
    // A title over 255 characters is cut to the caption buffer.
    CopyText(caption, kPathSize, LookupText("title"));
}

int AskBox(HWND owner, const char* text, const char* caption, UINT type) {
    int answer;
    if (SilentRun())
        answer = (type & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK;  // the welcome question counts as yes
    else
        answer = MessageBoxA(owner, text, caption, type);
    LogBox(caption, text, AnswerName(answer));
    return answer;
}

int AskCopyFailure(const char* text, uint32_t attempt) {
    if (!SilentRun()) return AskBox(nullptr, text, "Error", MB_ABORTRETRYIGNORE | MB_ICONQUESTION);
    const int answer = attempt < kSilentRetries ? IDRETRY : IDABORT;
    LogBox("Error", text, AnswerName(answer));
    if (answer == IDRETRY) Sleep(kSilentRetryDelay);
    return answer;
}

int ShowMessage(const char* key, UINT type, HWND owner) {
    char caption[kPathSize];
    CopyTitle(caption);
    return AskBox(owner, LookupText(key), caption, type);
}

void FatalMessage(const char* key, HWND owner) {
    char caption[kPathSize];
    CopyTitle(caption);
    AskBox(owner, LookupText(key), caption, MB_OK | MB_ICONERROR);
    std::exit(FinishRunLog(key, StopExitCode(key)));
}
