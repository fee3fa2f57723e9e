#include "app/RunLog.h"

#include <atomic>

#include "app/AppState.h"
#include "app/DeltaTarget.h"
#include "app/SafeFormat.h"
#include "payload/PatchNames.h"
#include "platform/Win32.h"

namespace {

HANDLE s_log = INVALID_HANDLE_VALUE;
// Lines come from the copy worker and from the helper thread that moves a
// flushed batch in; each is written whole under this flag.
std::atomic_flag s_writing = ATOMIC_FLAG_INIT;

// Writes "<time> <text>" as one line; a failed write is passed over.
void WriteLine(const char* text) {
    if (s_log == INVALID_HANDLE_VALUE) return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    char line[kTextSize];
    const FormatArg time[] = {FormatArg::Integer(now.wHour), FormatArg::Integer(now.wMinute),
                              FormatArg::Integer(now.wSecond), FormatArg::Integer(now.wMilliseconds)};
    FormatText(line, kTextSize, "%02d:%02d:%02d.%03d ", time, 4);
    uint32_t length = 0;
    while (line[length]) ++length;
    for (; *text && length + 3 < kTextSize; ++text) line[length++] = *text == '\n' ? '|' : *text;
    line[length++] = '\r';
    line[length++] = '\n';
    while (s_writing.test_and_set(std::memory_order_acquire)) Sleep(0);
    DWORD written = 0;
    WriteFile(s_log, line, length, &written, nullptr);
    s_writing.clear(std::memory_order_release);
}

const char* ActionName(FileAction action) {
    switch (action) {
    case FileAction::kReplaced: return "replaced";
    case FileAction::kRebuilt: return "rebuilt from a delta";
    case FileAction::kRemoved: return "removed";
    case FileAction::kAlreadyNew: return "already new";
    case FileAction::kSkipped: return "skipped";
    case FileAction::kUndone: return "undone";
    }
    return "";
}

}  // namespace

void OpenRunLog(const char* path) {
    s_log = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    SYSTEMTIME now;
    GetLocalTime(&now);
    char text[kPathSize];
    const FormatArg date[] = {FormatArg::Integer(now.wYear), FormatArg::Integer(now.wMonth),
                              FormatArg::Integer(now.wDay)};
    FormatText(text, kPathSize, "QUOR Patch started %04d-%02d-%02d", date, 3);
    WriteLine(text);
}

bool RunLogOpen() { return s_log != INVALID_HANDLE_VALUE; }

void LogStep(const char* text) { WriteLine(text); }

void LogStep(const char* text, const char* detail) {
    if (!RunLogOpen()) return;
    char line[kTextSize];
    const FormatArg args[] = {FormatArg::String(text), FormatArg::String(detail)};
    FormatText(line, kTextSize, "%s %s", args, 2);
    WriteLine(line);
}

void LogBox(const char* caption, const char* text, const char* answer) {
    if (!RunLogOpen()) return;
    char line[kTextSize];
    const FormatArg args[] = {FormatArg::String(caption), FormatArg::String(text), FormatArg::String(answer)};
    FormatText(line, kTextSize, "box \"%s\": %s -> %s", args, 3);
    WriteLine(line);
}

void LogFileAction(FileAction action, const char* name, uint32_t size) {
    if (!RunLogOpen()) return;
    char line[kTextSize];
    const FormatArg args[] = {FormatArg::String(ActionName(action)), FormatArg::String(name),
                              FormatArg::Integer(int32_t(size))};
    const bool sized = action != FileAction::kSkipped && action != FileAction::kUndone;
    FormatText(line, kTextSize, sized ? "%s %s, %u bytes" : "%s %s", args, 3);
    WriteLine(line);
}

void LogPutInPlace(const char* entryPath, const char* target) {
    if (!RunLogOpen()) return;
    const char* delta = DeltaRelativePart(entryPath);
    const char* copied = PatchFilesRelativePart(entryPath);
    HANDLE file = CreateFileA(target, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD size = 0;
    if (file != INVALID_HANDLE_VALUE) {
        size = GetFileSize(file, nullptr);
        CloseHandle(file);
    }
    LogFileAction(delta ? FileAction::kRebuilt : FileAction::kReplaced, delta ? delta : copied ? copied : entryPath,
                  size);
}

int FinishRunLog(const char* outcome, int exitCode) {
    if (!RunLogOpen()) return exitCode;
    char line[kTextSize];
    const FormatArg args[] = {FormatArg::String(outcome), FormatArg::Integer(exitCode)};
    FormatText(line, kTextSize, "outcome: %s (exit code %d)", args, 2);
    WriteLine(line);
    CloseHandle(s_log);
    s_log = INVALID_HANDLE_VALUE;
    return exitCode;
}
