// The patch program's entry point: one run of the patch, stage by stage.
// Exit code 0 after the update stage, -1 for every earlier stop.
#include "app/AppState.h"
#include "app/GameChecks.h"
#include "app/HashIni.h"
#include "app/Messages.h"
#include "app/Payload.h"
#include "app/Shortcuts.h"
#include "app/Update.h"
#include "app/Welcome.h"
#include "file/MountTable.h"
#include "payload/PatchNames.h"
#include "platform/DiskFS.h"
#include "pools/PtrPool.h"

namespace {
// Held until the process ends, like the game holds it while it runs.
HANDLE s_gameMutex = nullptr;
}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    g_Instance = instance;
    FileLayerInit(8);
    DiskFSInit();
    OpenPayload();

    // Lives until the process ends, like every text looked up from it. The
    // pack is mounted: the strings come from it or not at all.
    g_Strings = new CHashIni(20, 500, new CSizedPtrPool(), true);
    if (g_Strings->LoadPath(kPatchStringsPath)) PatchFileBroken();
    if (!ShowWelcome()) return -1;

    // The game holds this mutex while it runs.
    s_gameMutex = CreateMutexA(nullptr, FALSE, "Quor_Kingsfall_Ver_01");
    if (GetLastError() == ERROR_ALREADY_EXISTS) FatalMessage("quorrun", nullptr);

    if (!FindGameFolder()) FatalMessage("noquor", nullptr);
    if (!CheckGame()) return -1;
    RunUpdate();

    if (g_UpdateFailed) {
        ShowMessage("errnotcomplete", MB_OK, nullptr);
    } else {
        WriteGameVersion();
        CreateShortcuts();
        ShowMessage("done", MB_OK, nullptr);
    }

    DiskFSDone();
    FileLayerDone();
    return 0;
}
