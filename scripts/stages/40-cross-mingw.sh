#!/usr/bin/env bash
# Cross-builds for Windows with MinGW-w64, against the real <windows.h> (the
# host layer is left out), warnings as errors: for x86_64 the library, the
# programs and the unit tests (built here, run under Wine by stage 60); then
# the shipped set as scripts/release.sh makes it into dist/ (both patchers,
# qptool for Windows and Linux, Release builds) and qptool for i686 in the
# release's i686 build. The shipped patchers are then read back: manifest,
# version and dialog resources, stripped and under their size limit with a
# debug link to the .dbg beside them, the i686 build's imports and
# resources against the x86_64 build's; and dist/SHA256SUMS is checked.
set -euo pipefail
source "$QP_ROOT/scripts/ensure-packages.sh"
source "$QP_ROOT/scripts/build-flags.sh"
ensure_packages mingw-w64 googletest python3 python3-pefile
build="$QP_ROOT/build/mingw-x86_64"
echo "--- x86_64-w64-mingw32"
cmake -S "$QP_ROOT" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$QP_ROOT/cmake/toolchain-mingw-x86_64.cmake" "${QP_CI_FLAGS[@]}" >/dev/null
cmake --build "$build" -j "$QP_JOBS"
shopt -s nullglob
tests=("$build"/tests/test_*.exe)
[ ${#tests[@]} -gt 0 ] || { echo "no test executables were cross-built" >&2; exit 1; }
echo "built: ${tests[*]##*/}"

bash "$QP_ROOT/scripts/release.sh"
echo "--- i686-w64-mingw32 qptool"
cmake --build "$QP_ROOT/build/release-mingw-i686" -j "$QP_JOBS" --target qptool

dist="$QP_ROOT/dist"
(cd "$dist" && sha256sum --check --quiet SHA256SUMS)
"$dist/linux-$(uname -m)/qptool" --help >/dev/null
# Debian's Python, which has python3-pefile, whatever python3 is first on PATH.
QP_EXE_X86_64="$dist/windows-x86_64/quorpatch.exe" QP_EXE_I686="$dist/windows-i686/quorpatch.exe" \
    /usr/bin/python3 "$QP_ROOT/tests/winexe/test_windows_exe.py"
