// Measures what the dialog manager of this Windows (or Wine prefix) makes of
// the progress dialog's template: the dialog base units of 8-point
// "MS Sans Serif", found as Windows finds them (the average width of the 52
// letters, halved and rounded, and the font's height), the client size of
// 172 by 44 dialog units, and the window size with the dialog's styles.
// Writes "face baseX baseY clientWidth clientHeight windowWidth windowHeight"
// to dialog-units.txt beside itself; exit code 0 when it could.
#include <windows.h>

#include <cstdio>
#include <cstring>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    HDC screen = GetDC(nullptr);
    HFONT font = CreateFontA(-MulDiv(8, GetDeviceCaps(screen, LOGPIXELSY), 72), 0, 0, 0, FW_DONTCARE, FALSE, FALSE,
                             FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                             DEFAULT_PITCH | FF_DONTCARE, "MS Sans Serif");
    HGDIOBJ previous = SelectObject(screen, font);
    TEXTMETRICA metrics;
    SIZE letters;
    char face[LF_FACESIZE] = "";
    const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    bool measured = GetTextMetricsA(screen, &metrics) && GetTextExtentPoint32A(screen, alphabet, 52, &letters) &&
                    GetTextFaceA(screen, sizeof face, face) > 0;
    SelectObject(screen, previous);
    DeleteObject(font);
    ReleaseDC(nullptr, screen);
    if (!measured) return 1;

    const int baseX = (letters.cx / 26 + 1) / 2;
    const int baseY = metrics.tmHeight;
    RECT rect = {0, 0, MulDiv(172, baseX, 4), MulDiv(44, baseY, 8)};
    const LONG clientWidth = rect.right, clientHeight = rect.bottom;
    if (!AdjustWindowRectEx(&rect, WS_POPUP | WS_CAPTION | DS_MODALFRAME, FALSE, WS_EX_DLGMODALFRAME)) return 1;

    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    char* slash = std::strrchr(path, '\\');
    if (length == 0 || length >= MAX_PATH || !slash || size_t(slash + 1 - path) + 17 >= sizeof path) return 1;
    std::strcpy(slash + 1, "dialog-units.txt");
    FILE* out = std::fopen(path, "w");
    if (!out) return 1;
    std::fprintf(out, "%s\t%d %d %ld %ld %ld %ld\n", face, baseX, baseY, clientWidth, clientHeight,
                 rect.right - rect.left, rect.bottom - rect.top);
    return std::fclose(out) == 0 ? 0 : 1;
}
