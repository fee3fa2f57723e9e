#include "app/Welcome.h"

#include "app/AppState.h"
#include "app/Messages.h"
#include "app/Registry.h"
#include "app/SafeFormat.h"
#include "file/MountTable.h"

int ShowWelcome() {
    char folder[kPathSize] = {0};
    char text[kPathSize] = {0};
    uint32_t major = 1;
    uint32_t minor = 0;

    HKEY key;
    if (OpenGameKey(KEY_READ, &key)) {
        uint32_t version;
        if (ReadRegistryNumber(key, kValueGameVersion, &version)) {
            minor = version & 0xFFFF;
            major = version >> 16;
        }
        ReadRegistryText(key, kValuePath, folder, kPathSize);
        RegCloseKey(key);

        // A formatted text over 255 characters is cut to the buffer.
        const FormatArg args[] = {FormatArg::Integer(int32_t(major)), FormatArg::Integer(int32_t(minor)),
                                  FormatArg::String(folder)};
        FormatText(text, kPathSize, LookupText("welcome2"), args, 3);

        // The game's own file, named right after the folder text as stored. A
        // folder too long to take the name counts as one without the game.
        char gameFile[kPathSize];
        bool fits = CopyText(gameFile, kPathSize, folder) && AppendText(gameFile, kPathSize, "quor.exe");
        if (fits && g_FileApi.Exists(gameFile) && LookupText("welcome2")[0] != '\0') {
            char caption[kPathSize];
            CopyTitle(caption);
            return AskBox(nullptr, text, caption, MB_YESNO | MB_ICONINFORMATION) == IDYES ? 1 : 0;
        }
    }
    return ShowMessage("welcome", MB_YESNO | MB_ICONINFORMATION, nullptr) == IDYES ? 1 : 0;
}
