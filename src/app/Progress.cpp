#include "app/Progress.h"

#include "app/AppState.h"
#include "app/DeltaTarget.h"
#include "app/RunLog.h"
#include "app/SafeFormat.h"
#include "app/resource.h"
#include "file/MountTable.h"
#include "payload/Delta.h"
#include "payload/PatchNames.h"
#include "platform/Win32.h"

#include <commctrl.h>

namespace {

// A message a quarter second at most: the dialog's thread paints each one.
constexpr DWORD kMoveInterval = 250;
constexpr uint32_t kSteps = 100;  // the bar's default range

uint64_t s_total = 0;
uint64_t s_done = 0;
uint32_t s_files = 0;
HWND s_bar = nullptr;
DWORD s_lastMove = 0;
uint32_t s_shown = 0;

void MoveBar(bool now) {
    if (!s_bar || !s_total) return;
    const DWORD tick = GetTickCount();
    const uint32_t step = uint32_t(s_done * kSteps / s_total);
    if (step == s_shown || (!now && tick - s_lastMove < kMoveInterval)) return;
    s_lastMove = tick;
    s_shown = step;
    PostMessageA(s_bar, PBM_SETPOS, WPARAM(step), 0);
}

// The size of a pack file, or the new size its delta folder rebuilds (read
// from the first delta's header: every delta of a folder makes the same file).
uint32_t SizeOf(const char* path, bool inDeltas) {
    CFile* file = g_FileApi.Open(path, FM_READ, nullptr);
    if (!file) return 0;
    uint32_t size = file->GetSize();
    DeltaHeader header{};
    if (inDeltas) size = ReadDeltaHeader(file, &header) ? 0 : header.newSize;
    delete file;
    return size;
}

void Count(const char* sourcePath, bool inDeltas) {
    char directory[kPathSize];
    if (!CopyText(directory, kPathSize, sourcePath) || !AppendText(directory, kPathSize, "\\")) return;
    bool deltaCounted = false;
    FindRecord record{};
    if (!g_FileApi.FindFirst(&record, directory)) {
        do {
            char entry[kPathSize];
            if (!CopyText(entry, kPathSize, directory) || !AppendText(entry, kPathSize, record.name)) continue;
            if (record.attributes & FA_DIRECTORY) {
                Count(entry, inDeltas);
            } else if (!inDeltas || !deltaCounted) {
                s_total += SizeOf(entry, inDeltas);
                ++s_files;
                deltaCounted = inDeltas;
            }
        } while (!g_FileApi.FindNext(&record));
    }
    g_FileApi.FindClose(&record);
}

}  // namespace

void PlanProgress() {
    s_total = s_done = 0;
    s_files = 0;
    s_shown = 0;
    Count(kPatchFilesPath, false);
    Count(kDeltasRoot, true);
    s_bar = g_ProgressDialog ? GetDlgItem(g_ProgressDialog, IDC_PROGRESS_BAR) : nullptr;
    s_lastMove = GetTickCount();
    // In KB: the total of rebuilt files may pass 4 GB.
    const FormatArg args[] = {FormatArg::Integer(int32_t(s_files)), FormatArg::Integer(int32_t((s_total + 1023) >> 10))};
    LogFormat("update: %u files, %u KB", args, 2);
}

void AddProgress(uint32_t bytes) {
    s_done = s_done + bytes < s_total ? s_done + bytes : s_total;
    MoveBar(false);
}

void FinishProgress() { MoveBar(true); }
