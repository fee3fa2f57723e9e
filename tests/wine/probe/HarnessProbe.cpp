// A tiny Windows GUI program that proves the Wine harness: it asks one Yes/No
// question, records the answer under HKLM, shows its own command line in an OK
// box, and ends with an exit code that tells the answer (Yes 6 -> 46, No 7 -> 47).
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    int answer = MessageBoxA(nullptr, "Probe \"question\"\nC:\\Games\\Quor\\ 100%", "Harness Probe",
                             MB_YESNO | MB_ICONINFORMATION);
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\QuorPatchHarness", 0, nullptr, 0, KEY_WRITE, nullptr,
                        &key, nullptr) == ERROR_SUCCESS) {
        DWORD value = DWORD(answer);
        RegSetValueExA(key, "Answer", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
        RegCloseKey(key);
    }
    MessageBoxA(nullptr, GetCommandLineA(), "Harness Probe Command Line", MB_OK);
    return 40 + answer;
}
