#include "app/Payload.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "app/AppState.h"
#include "app/HelperThread.h"
#include "app/Messages.h"
#include "app/RunLog.h"
#include "app/RunOptions.h"
#include "app/SafeFormat.h"
#include "file/MountTable.h"
#include "file/WindowFile.h"
#include "payload/LzssFile.h"
#include "payload/LzssFormat.h"
#include "payload/PackFS.h"
#include "payload/PatchIntegrity.h"
#include "payload/PatchNames.h"
#include "payload/ReadAheadFile.h"
#include "payload/SignedImage.h"
#include "platform/DiskFile.h"
#include "pools/DefaultPools.h"

namespace {

// Both live until the process ends: the window reads through the program's
// own file, and the mount table keeps its prefixes by reference.
CDiskFile* s_ownFile = nullptr;
char* s_packPrefix = nullptr;
// The mounted patch pack, and the read-ahead file it reads through while
// the tree is copied.
CPackFS* s_pack = nullptr;
CReadAheadFile* s_readAhead = nullptr;

}  // namespace

bool OwnProgramPath(char* path, uint32_t size) {
    // The module's own file, never a name from the command line: any parent
    // chooses that, and a patch must apply only the payload it carries (the
    // one a signature vouches for), from wherever it was started.
    DWORD length = GetModuleFileNameA(nullptr, path, size);
    return length > 0 && length < size;
}

void PatchFileBroken() {
    AskBox(nullptr, "Patch file is broken!", "QUOR Patch", MB_OK);
    std::exit(FinishRunLog("patch file broken", SilentRun() ? kExitPatchBroken : -1));
}

namespace {

// The checksum pass of a patch of at least this many blocks (1 MB) runs in
// two halves on two threads; a smaller one is over before a thread starts.
constexpr uint32_t kBlocksWorthAThread = 32;

PatchChecksum CheckPayload(CPackFS* pack, CFile* container, CFile* window, const char* path, uint32_t offset,
                           uint32_t length, IntegrityFault* fault) {
    if (container->GetSize() / kLzssPatchBlockSize < kBlocksWorthAThread)
        return CheckPatchChecksum(pack, container, window, fault);
    // The second half reads through a handle of its own: a file object
    // serves one thread. Without one the pass runs in one piece.
    HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return CheckPatchChecksum(pack, container, window, fault);
    CDiskFile second(handle, FM_READ);
    CWindowFile secondWindow(&second, offset, length, false);
    const ChecksumHelper helper{&secondWindow, kBlocksWorthAThread, {StartHelperThread, WaitHelperThread}};
    return CheckPatchChecksum(pack, container, window, fault, &helper);
}

}  // namespace

int OpenPayload() {
    char path[kPathSize];
    if (!OwnProgramPath(path, kPathSize)) PatchFileBroken();
    HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) PatchFileBroken();
    CDiskFile* self = new CDiskFile(handle, FM_READ);
    s_ownFile = self;

    uint32_t offset = 0;
    if (!FindPayloadOffset(self, &offset)) PatchFileBroken();
    // A signed patch carries its certificate table behind the payload.
    const uint32_t length = PayloadEnd(self, offset) - offset;
    CFile* window = new CWindowFile(self, offset, length, false);
    CLzssFile* container = new CLzssFile(window, true);
    CPackFS* pack = nullptr;
    if (MountPack(container, kPatchMount, &pack)) PatchFileBroken();
    s_pack = pack;
    // Every patch the tool writes carries the checksum entry: a pack without
    // one is damaged (its directory entry or its last bytes lost), never old.
    IntegrityFault fault;
    if (CheckPayload(pack, container, window, path, offset, length, &fault) != PatchChecksum::kSound)
        PatchFileBroken();
    return 1;
}

ErrorCode MountPack(CFile* file, const char* name, CPackFS** mounted) {
    CPackFS* pack = new (std::nothrow) CPackFS();
    if (!pack) return ERR_ALLOCFAIL;
    if (!file) {
        delete pack;
        return ERR_UNKNOWN;
    }
    if (!file->isOpen) {
        delete file;
        delete pack;
        return ERR_UNKNOWN;
    }
    ErrorCode error = pack->Attach(file);
    if (error) {
        delete pack;
        return error;
    }
    size_t length = std::strlen(name);
    auto* prefix = static_cast<char*>(g_pDefaultPtrPool->Alloc(uint32_t(length + 2)));
    if (!prefix) {
        delete pack;
        return ERR_ALLOCFAIL;
    }
    std::memcpy(prefix, name, length + 1);
    if (length == 0 || name[length - 1] != '\\') {
        prefix[length] = '\\';
        prefix[length + 1] = '\0';
    }
    error = MountService(prefix, pack);
    if (error) {  // a full table leaves the service with us
        delete pack;
        g_pDefaultPtrPool->Free(prefix);
        return error;
    }
    s_packPrefix = prefix;
    if (mounted) *mounted = pack;
    return nullptr;
}

void BeginPayloadReadAhead() {
    if (!s_pack || s_readAhead || !s_pack->packFile) return;
    auto* container = static_cast<CLzssFile*>(s_pack->packFile->IsKindOf(CLzssFile::className));
    if (!container) return;
    auto* file = new (std::nothrow) CReadAheadFile(container, HelperThreads{StartHelperThread, WaitHelperThread});
    if (file && !file->isOpen) {
        delete file;
        file = nullptr;
    }
    if (!file) return;  // the pack is read as before
    s_readAhead = file;
    s_pack->packFile = file;
}

void EndPayloadReadAhead() {
    if (!s_readAhead) return;
    s_pack->packFile = s_readAhead->base;
    delete s_readAhead;
    s_readAhead = nullptr;
}
