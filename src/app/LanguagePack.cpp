// The language check inside the game's local data pack "packs\local.wdt":
// a block-file pack ("HPFS") or a pack file, either possibly inside a
// compressed container.
#include <cstring>
#include <new>

#include "app/AppState.h"
#include "app/GameChecks.h"
#include "app/HashIni.h"
#include "app/Messages.h"
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

// Opens the game's local pack as a file service, or null when it is missing
// or of no known kind. The service owns the file.
CFileService* OpenLocalPack() {
    char path[kPathSize];
    if (!CopyText(path, kPathSize, g_GameFolder) || !AppendText(path, kPathSize, "packs\\local.wdt")) return nullptr;

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
    if (std::memcmp(magic, "LZSS", 4) == 0) file = new CLzssFile(file, true);

    if (!pool->Attach(file)) return new CHPFS(pool);
    delete pool;  // not a block-file pack: the file stays ours
    CPackFS* pack = new CPackFS();
    if (pack->Attach(file)) {
        delete pack;  // owns the file once attached
        return nullptr;
    }
    return pack;
}

// The value of [section] key in the strings file at path inside service
// differs from expected. A missing file, section or key does not differ.
bool ValueDiffers(CFileService* service, const char* path, const char* section, const char* key,
                  const char* expected) {
    CFile* file = service->Open(path, kSharedRead, nullptr);
    if (!file) return false;
    CHashIni* table = new CHashIni(20, 500, new CSizedPtrPool(), true);
    table->LoadFile(file);
    // Compared whole, straight from the table: no fixed buffer to cut it.
    const char* value = table->FindValue(section, key);
    bool differs = value && CompareNoCase(value, expected) != 0;
    delete table;
    delete file;
    return differs;
}

}  // namespace

void CheckLanguagePack(const char* lang) {
    CFileService* service = OpenLocalPack();
    if (!service) return;
    // The game's word for its basic unit: a translated game names it otherwise.
    bool wrong = ValueDiffers(service, "LOCAL\\strings3.ini", "system", "language", lang) ||
                 ValueDiffers(service, "LOCAL\\strings.ini", "objects", "peon", "peasant");
    // The pack is let go before the process may end.
    delete service;
    if (wrong) FatalMessage("wronglang", nullptr);
}
