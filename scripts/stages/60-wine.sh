#!/usr/bin/env bash
# The Windows executables, cross-built with MinGW-w64, tested under Wine:
# headless (xvfb-run), in one throwaway prefix made by the tests, every wait
# bounded. First the harness proves itself on a small probe program.
set -euo pipefail
source "$QP_ROOT/scripts/ensure-packages.sh"
ensure_packages mingw-w64 wine64 xvfb xauth xdotool

out="$QP_ROOT/build/wine"
mkdir -p "$out"

# Only system DLLs may be imported: the program must run on a clean Windows.
check_imports() {
    local exe="$1" objdump="$2" dll
    for dll in $("$objdump" -p "$exe" | awk '/DLL Name:/ {print tolower($3)}'); do
        case "$dll" in
            kernel32.dll|user32.dll|advapi32.dll|shell32.dll|ole32.dll|msvcrt.dll) ;;
            *) echo "$exe imports $dll, which a clean Windows does not have" >&2; return 1 ;;
        esac
    done
}

# The harness probe (one source file).
x86_64-w64-mingw32-g++ -std=c++17 -O2 -Wall -Wextra -Werror -mwindows -static \
    -o "$out/probe.exe" "$QP_ROOT/tests/wine/probe/HarnessProbe.cpp" -ladvapi32
check_imports "$out/probe.exe" x86_64-w64-mingw32-objdump

# The host side of the harness.
build="$QP_ROOT/build/gcc"
cmake -S "$QP_ROOT" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc >/dev/null
cmake --build "$build" -j "$QP_JOBS" --target test_wine

# One process, so that every test shares the one prefix.
export QP_WINE_REQUIRED=1 QP_WINE_PROBE="$out/probe.exe"
timeout 1200 xvfb-run -a "$build/tests/wine/test_wine"
