#include "app/Removals.h"

#include <cstring>

#include "app/AppState.h"
#include "app/DeltaTarget.h"
#include "app/Messages.h"
#include "app/RunLog.h"
#include "app/SafeFormat.h"
#include "app/Transaction.h"
#include "app/Update.h"
#include "file/MountTable.h"
#include "file/PlainFileName.h"
#include "payload/RemoveList.h"
#include "pools/DefaultPools.h"

namespace {

// A list longer than this is no list the tool writes (a line per content,
// some 300 bytes at most, for every file of a game).
constexpr uint32_t kMaxListSize = 64u << 20;

char* LoadList(uint32_t* size) {
    CFile* file = g_FileApi.Open(kRemoveListPath, FM_READ, nullptr);
    if (!file) return nullptr;
    *size = file->GetSize();
    char* text = *size && *size <= kMaxListSize ? static_cast<char*>(g_pDefaultPtrPool->Alloc(*size)) : nullptr;
    uint32_t got = 0;
    if (text && (file->Read(text, *size, &got) || got != *size)) {
        g_pDefaultPtrPool->Free(text);
        text = nullptr;
    }
    delete file;
    return text;
}

void RemoveOne(const char* target, const char* relative, bool listed) {
    if (UpdateAborted()) return;
    if (!listed) {
        ShowFormatted("removekept", "%s was changed since it was installed; the patch leaves it in place.",
                      FormatArg::String(relative), MB_OK | MB_ICONINFORMATION);
        return;
    }
    const uint32_t size = LoggedFileSize(target);
    if (SetAsideForRemoval(target) || AskUntilDone(relative, SetAsideForRemoval, target))
        LogFileAction(FileAction::kRemoved, relative, size);
}

}  // namespace

void VisitRemovals(void (*visit)(const char* target, const char* relative, bool listed)) {
    uint32_t size = 0;
    char* text = LoadList(&size);
    if (!text) return;
    const char* cursor = text;
    const char* end = text + size;
    RemoveLine line;
    bool more = NextRemoveLine(&cursor, end, &line);
    while (more) {
        // The lines of one file follow each other.
        char relative[kPathSize];
        char target[kPathSize];
        const bool fits = line.pathLength < kPathSize;
        if (fits) {
            std::memcpy(relative, line.path, line.pathLength);
            relative[line.pathLength] = '\0';
        }
        DeltaContent installedContent;
        const bool named = fits && IsPatchFilePath(relative) && CopyText(target, kPathSize, g_GameFolder) &&
                           AppendText(target, kPathSize, relative);
        const DWORD attributes = named ? GetFileAttributesA(target) : INVALID_FILE_ATTRIBUTES;
        const bool installed = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
        const bool measured = installed && MeasureGameContent(target, &installedContent);
        bool listed = false;
        RemoveLine first = line;
        do {
            listed = listed || (measured && line.oldSize == installedContent.size && line.oldCrc == installedContent.crc);
            more = NextRemoveLine(&cursor, end, &line);
        } while (more && line.pathLength == first.pathLength &&
                 std::memcmp(line.path, first.path, first.pathLength) == 0);
        if (installed) visit(target, relative, listed);
    }
    g_pDefaultPtrPool->Free(text);
}

void RemoveListedFiles() { VisitRemovals(RemoveOne); }
