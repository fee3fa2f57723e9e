#!/usr/bin/env bash
# The Windows executables, cross-built with MinGW-w64, tested under Wine:
# headless (xvfb-run), in one throwaway prefix made by the tests, every wait
# bounded. The harness first proves itself on a small probe program; then
# the patcher (x86_64; Debian's wine64 runs no 32-bit programs, so the
# shipped i686 build is checked but not run) goes through the end-to-end
# scenarios next to the Linux build. The complete update is also captured
# from the screen (build/wine/screenshots): the welcome box, the progress
# dialog and the final box, the dialog measured and its text read back.
set -euo pipefail
source "$QP_ROOT/scripts/ensure-packages.sh"
source "$QP_ROOT/scripts/build-flags.sh"
# fonts-wine: Wine's own "MS Sans Serif" and dialog fonts; imagemagick and
# tesseract: the screen captures and the reading of their text.
ensure_packages mingw-w64 googletest wine64 fonts-wine xvfb xauth xdotool imagemagick tesseract-ocr tesseract-ocr-eng \
    osslsigncode openssl

out="$QP_ROOT/build/wine"
mkdir -p "$out"

# Only system DLLs may be imported: the program must run on a clean Windows.
check_imports() {
    local exe="$1" objdump="$2" dll headers
    headers="$("$objdump" -p "$exe")"
    for dll in $(awk '/DLL Name:/ {print tolower($3)}' <<<"$headers"); do
        case "$dll" in
            kernel32.dll|user32.dll|advapi32.dll|shell32.dll|ole32.dll|comctl32.dll|msvcrt.dll) ;;
            *) echo "$exe imports $dll, which a clean Windows does not have" >&2; return 1 ;;
        esac
    done
    grep -q 'Subsystem.*(Windows GUI)' <<<"$headers" || { echo "$exe is no GUI program" >&2; return 1; }
    echo "$(basename "$exe") ($(basename "$objdump" | cut -d- -f1)): imports only system DLLs"
}

# The harness probe (one source file).
x86_64-w64-mingw32-g++ -std=c++17 -O2 -Wall -Wextra -Werror -mwindows -static \
    -o "$out/probe.exe" "$QP_ROOT/tests/wine/probe/HarnessProbe.cpp" -ladvapi32
check_imports "$out/probe.exe" x86_64-w64-mingw32-objdump
# What the prefix's dialog manager makes of the progress dialog's units.
x86_64-w64-mingw32-g++ -std=c++17 -O2 -Wall -Wextra -Werror -mwindows -static \
    -o "$out/dialog-units.exe" "$QP_ROOT/tests/wine/probe/DialogUnits.cpp" -lgdi32
rm -rf "$out/screenshots"
mkdir -p "$out/screenshots"

# The Windows builds of the cross-build stage, in the same configuration, so
# nothing is built twice: x86_64 whole in its cross-build folder (its unit
# tests run below), and the shipped set in dist/ (scripts/release.sh, which
# finds its builds done): the patches under Wine are built on its shipped
# x86_64 patcher, and its i686 patcher is checked here too.
export QP_WINE_PROBE="$out/probe.exe"
export QP_WINE_DIALOG_UNITS="$out/dialog-units.exe" QP_WINE_SHOTS="$out/screenshots"
filter=-PatcherUnderWine.*:PatcherOnScreen.*
have_app=
[ -f "$QP_ROOT/src/app/CMakeLists.txt" ] && have_app=1
build="$QP_ROOT/build/mingw-x86_64"
cmake -S "$QP_ROOT" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$QP_ROOT/cmake/toolchain-mingw-x86_64.cmake" "${QP_CI_FLAGS[@]}" >/dev/null
cmake --build "$build" -j "$QP_JOBS"
if [ -n "$have_app" ]; then
    check_imports "$build/src/app/quorpatch.exe" x86_64-w64-mingw32-objdump
    bash "$QP_ROOT/scripts/release.sh" >/dev/null
    check_imports "$QP_ROOT/dist/windows-i686/quorpatch.exe" i686-w64-mingw32-objdump
    check_imports "$QP_ROOT/dist/windows-x86_64/quorpatch.exe" x86_64-w64-mingw32-objdump
fi
if [ -n "$have_app" ]; then
    export QP_WINE_PATCHER="$QP_ROOT/dist/windows-x86_64/quorpatch.exe"
    export QP_LINUX_PATCHER="$QP_ROOT/build/gcc/src/app/quorpatch"
    export QP_TOOL="$QP_ROOT/build/gcc/tools/qptool"
    export QP_SAMPLE_PATCH="$QP_ROOT/examples/sample-patch"
    filter=*
fi

# The unit tests of the cross-build stage on the real Win32 API, where built.
# Wine answers SetEndOfFile on a read-only handle with ERROR_INVALID_PARAMETER
# where Windows says ERROR_ACCESS_DENIED, so that one check is left out.
unit_prefix="$(mktemp -d)"
shopt -s nullglob
for test in "$QP_ROOT"/build/mingw-x86_64/tests/test_*.exe; do
    echo "--- $(basename "$test") under Wine"
    WINEPREFIX="$unit_prefix/prefix" WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" WINEDEBUG=-all \
        timeout 300 /usr/lib/wine/wine64 "$test" --gtest_brief=1 \
        --gtest_filter=-DiskFileTest.ReadOnlyHandleRefusesWrites
done
WINEPREFIX="$unit_prefix/prefix" timeout 60 /usr/lib/wine/wineserver -k || true
rm -rf "$unit_prefix"

# The host side: the harness, the Linux patcher and the patch tool.
build="$QP_ROOT/build/gcc"
cmake -S "$QP_ROOT" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc "${QP_CI_FLAGS[@]}" "${QP_BATCH_FLAGS[@]}" >/dev/null
cmake --build "$build" -j "$QP_JOBS"

# One process, so that every test shares the one prefix; a missing input fails.
export QP_WINE_REQUIRED=1
timeout 1200 xvfb-run -a -s "-screen 0 1024x768x24" "$build/tests/wine/test_wine" --gtest_filter="$filter"
