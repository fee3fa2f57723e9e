#!/usr/bin/env bash
# Cross-builds for Windows with MinGW-w64, against the real <windows.h> (the
# host layer is left out), warnings as errors: for x86_64 the library, the
# programs and the unit tests (built here, run under Wine by stage 60); for
# i686 the patcher and qptool. Both patcher executables are then read back:
# manifest, version and dialog resources, stripped and under its size limit,
# and the i686 build's imports and resources against the x86_64 build's.
set -euo pipefail
source "$QP_ROOT/scripts/ensure-packages.sh"
source "$QP_ROOT/scripts/build-flags.sh"
ensure_packages mingw-w64 googletest python3 python3-pefile
for arch in x86_64 i686; do
    build="$QP_ROOT/build/mingw-$arch"
    echo "--- $arch-w64-mingw32"
    cmake -S "$QP_ROOT" -B "$build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$QP_ROOT/cmake/toolchain-mingw-$arch.cmake" "${QP_CI_FLAGS[@]}" >/dev/null
    if [ "$arch" = x86_64 ]; then
        cmake --build "$build" -j "$QP_JOBS"
        shopt -s nullglob
        tests=("$build"/tests/test_*.exe)
        [ ${#tests[@]} -gt 0 ] || { echo "no test executables were cross-built" >&2; exit 1; }
        echo "built: ${tests[*]##*/}"
    else
        targets=(qptool)
        [ -f "$QP_ROOT/src/app/CMakeLists.txt" ] && targets+=(quorpatch)
        cmake --build "$build" -j "$QP_JOBS" --target "${targets[@]}"
    fi
done

if [ -f "$QP_ROOT/src/app/CMakeLists.txt" ]; then
    # Debian's Python, which has python3-pefile, whatever python3 is first on PATH.
    QP_EXE_X86_64="$QP_ROOT/build/mingw-x86_64/src/app/quorpatch.exe" \
    QP_EXE_I686="$QP_ROOT/build/mingw-i686/src/app/quorpatch.exe" \
        /usr/bin/python3 "$QP_ROOT/tests/winexe/test_windows_exe.py"
fi
