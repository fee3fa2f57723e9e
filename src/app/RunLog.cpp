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

const char* const kActionNames[] = {"replaced", "rebuilt from a delta", "removed", "already new", "skipped", "undone"};

}  // namespace

void OpenRunLog(const char* path) {
    s_log = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    SYSTEMTIME now;
    GetLocalTime(&now);
    const FormatArg date[] = {FormatArg::Integer(now.wYear), FormatArg::Integer(now.wMonth),
                              FormatArg::Integer(now.wDay)};
    LogFormat("QUOR Patch started %04d-%02d-%02d", date, 3);
}

bool RunLogOpen() { return s_log != INVALID_HANDLE_VALUE; }

void LogFormat(const char* format, const FormatArg* args, uint32_t count) {
    if (s_log == INVALID_HANDLE_VALUE) return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    char line[kTextSize];
    const FormatArg time[] = {FormatArg::Integer(now.wHour), FormatArg::Integer(now.wMinute),
                              FormatArg::Integer(now.wSecond), FormatArg::Integer(now.wMilliseconds)};
    FormatText(line, kTextSize, "%02d:%02d:%02d.%03d ", time, 4);
    uint32_t length = 0;
    while (line[length]) ++length;
    FormatText(line + length, kTextSize - 2 - length, format, args, count);
    for (; line[length]; ++length)
        if (line[length] == '\n') line[length] = '|';
    line[length++] = '\r';
    line[length++] = '\n';
    while (s_writing.test_and_set(std::memory_order_acquire)) Sleep(0);
    DWORD written = 0;
    WriteFile(s_log, line, length, &written, nullptr);
    s_writing.clear(std::memory_order_release);
}

void LogStep(const char* text) { LogStep(text, nullptr); }

void LogStep(const char* text, const char* detail) {
    const FormatArg args[] = {FormatArg::String(text), FormatArg::String(detail)};
    LogFormat(detail ? "%s %s" : "%s", args, 2);
}

void LogBox(const char* caption, const char* text, const char* answer) {
    const FormatArg args[] = {FormatArg::String(caption), FormatArg::String(text), FormatArg::String(answer)};
    LogFormat("box \"%s\": %s -> %s", args, 3);
}

void LogFileAction(FileAction action, const char* name, uint32_t size) {
    const FormatArg args[] = {FormatArg::String(kActionNames[int(action)]), FormatArg::String(name),
                              FormatArg::Integer(int32_t(size))};
    const bool sized = action != FileAction::kSkipped && action != FileAction::kUndone;
    LogFormat(sized ? "%s %s, %u bytes" : "%s %s", args, 3);
}

uint32_t LoggedFileSize(const char* path) {
    if (!RunLogOpen()) return 0;
    HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD size = 0;
    if (file != INVALID_HANDLE_VALUE) {
        size = GetFileSize(file, nullptr);
        CloseHandle(file);
    }
    return size;
}

void LogPutInPlace(const char* entryPath, const char* target) {
    if (!RunLogOpen()) return;
    const char* delta = DeltaRelativePart(entryPath);
    const char* copied = PatchFilesRelativePart(entryPath);
    const uint32_t size = LoggedFileSize(target);
    LogFileAction(delta ? FileAction::kRebuilt : FileAction::kReplaced, delta ? delta : copied ? copied : entryPath,
                  size);
}

int FinishRunLog(const char* outcome, int exitCode) {
    if (!RunLogOpen()) return exitCode;
    const FormatArg args[] = {FormatArg::String(outcome), FormatArg::Integer(exitCode)};
    LogFormat("outcome: %s (exit code %d)", args, 2);
    CloseHandle(s_log);
    s_log = INVALID_HANDLE_VALUE;
    return exitCode;
}
