// The language check inside the game's local data pack "packs\local.wdt":
// a block-file pack ("HPFS") or a pack file, either possibly inside a
// compressed container.
#include <cstring>
#include <new>

#include "app/AppState.h"
#include "app/GameChecks.h"
#include "app/HashIni.h"
#include "app/Messages.h"
#include "app/ReadWatchFile.h"
#include "app/SafeFormat.h"
#include "file/MountTable.h"
#include "framework/AsciiText.h"
#include "hpfs/BFHP.h"
#include "hpfs/HPFS.h"
#include "payload/LzssFile.h"
#include "payload/PackFS.h"
#include "pools/PtrPool.h"

namespace {

constexpr uint16_t kSharedRead = FM_READ | FM_SHARE_READ | FM_SHARE_WRITE;

}  // namespace

CFileService* OpenLocalPack(const char* path) {
    CBFHP* pool = new CBFHP(nullptr, false);
    CFile* file = g_FileApi.Open(path, kSharedRead, nullptr);
    if (!file) {
        delete pool;
        return nullptr;
    }
    char magic[4];
    uint32_t count = 0;
    ErrorCode error = file->Read(magic, sizeof magic, &count);
    file->Seek(0, ORIGIN_BEGIN);
    if (error) {
        delete pool;
        delete file;
        return nullptr;
    }
    if (std::memcmp(magic, "LZSS", 4) == 0) {
        file = new CLzssFile(file, true);
        // A damaged container header or table: a pack that cannot be read.
        if (!file->isOpen) {
            delete pool;
            delete file;
            return nullptr;
        }
    }

    if (!pool->Attach(file)) return new CHPFS(pool);
    delete pool;  // not a block-file pack: the file stays ours
    CPackFS* pack = new CPackFS();
    if (pack->Attach(file)) {
        delete pack;  // owns the file once attached
        return nullptr;
    }
    return pack;
}

bool PackValueDiffers(CFileService* service, const char* path, const char* section, const char* key,
                      const char* expected) {
    CFile* file = service->Open(path, kSharedRead, nullptr);
    if (!file) return false;
    CHashIni* table = new CHashIni(20, 500, new CSizedPtrPool(), true);
    // A file that cannot be read whole is no check: what was read of it may
    // end anywhere, a value cut short or empty included.
    bool loaded = !LoadWhole(table, file);
    // Compared whole, straight from the table: no fixed buffer to cut it.
    const char* value = loaded ? table->FindValue(section, key) : nullptr;
    bool differs = value && CompareNoCase(value, expected) != 0;
    delete table;
    delete file;
    return differs;
}

void CheckLanguagePack(const char* lang) {
    char path[kPathSize];
    if (!CopyText(path, kPathSize, g_GameFolder) || !AppendText(path, kPathSize, "packs\\local.wdt")) return;
    CFileService* service = OpenLocalPack(path);
    if (!service) return;
    // The game's word for its basic unit: a translated game names it otherwise.
    bool wrong = PackValueDiffers(service, "LOCAL\\strings3.ini", "system", "language", lang) ||
                 PackValueDiffers(service, "LOCAL\\strings.ini", "objects", "peon", "peasant");
    // The pack is let go before the process may end.
    delete service;
    if (wrong) FatalMessage("wronglang", nullptr);
}
