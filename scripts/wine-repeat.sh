#!/usr/bin/env bash
# Opt-in, not part of the suite: runs the Wine scenarios that answer message
# boxes many times in a row in one prefix, to show that answering them does
# not fail by chance. Builds what it needs as the Wine stage does (the MinGW
# x86_64 patcher, the host harness, the probe) and prints how many rounds
# passed. QP_WINE_REPEAT rounds (default 20); QP_WINE_REPEAT_FILTER a
# GoogleTest filter for other scenarios.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
export QP_ROOT="${QP_ROOT:-$(cd "$here/.." && pwd)}"
export QP_JOBS="${QP_JOBS:-$(nproc)}"
rounds="${QP_WINE_REPEAT:-20}"
filter="${QP_WINE_REPEAT_FILTER:-HarnessProbe.AnswersBoxesAndReadsThemBack:PatcherUnderWine.CompleteUpdate:PatcherUnderWine.DeclinedWelcomeChangesNothing:PatcherUnderWine.IgnoredCopyFailureLeavesTheUpdateIncomplete:PatcherUnderWine.GuardedTargetsAreReplacedAndLeftoversRemoved}"
source "$here/ensure-packages.sh"
ensure_packages "${QP_BUILD_PACKAGES[@]}" mingw-w64 wine64 fonts-wine xvfb xauth xdotool imagemagick

out="$QP_ROOT/build/wine"
mkdir -p "$out"
x86_64-w64-mingw32-g++ -std=c++17 -O2 -Wall -Wextra -Werror -mwindows -static \
    -o "$out/probe.exe" "$QP_ROOT/tests/wine/probe/HarnessProbe.cpp" -ladvapi32
cmake -S "$QP_ROOT" -B "$QP_ROOT/build/mingw-x86_64" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$QP_ROOT/cmake/toolchain-mingw-x86_64.cmake" >/dev/null
cmake --build "$QP_ROOT/build/mingw-x86_64" -j "$QP_JOBS" --target quorpatch
cmake -S "$QP_ROOT" -B "$QP_ROOT/build/gcc" -G Ninja -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc >/dev/null
cmake --build "$QP_ROOT/build/gcc" -j "$QP_JOBS" --target test_wine quorpatch qptool

export QP_WINE_PROBE="$out/probe.exe"
export QP_WINE_PATCHER="$QP_ROOT/build/mingw-x86_64/src/app/quorpatch.exe"
export QP_LINUX_PATCHER="$QP_ROOT/build/gcc/src/app/quorpatch"
export QP_TOOL="$QP_ROOT/build/gcc/tools/qptool"
export QP_SAMPLE_PATCH="$QP_ROOT/examples/sample-patch"
export QP_WINE_REQUIRED=1
log="$out/repeat.log"
status=0
timeout $((rounds * 900)) xvfb-run -a -s "-screen 0 1024x768x24" "$QP_ROOT/build/gcc/tests/wine/test_wine" \
    --gtest_filter="$filter" --gtest_repeat="$rounds" >"$log" 2>&1 || status=$?
passed=$(grep -c '^\[  PASSED  \]' "$log" || true)
grep -E '^\[  FAILED  \]|: Failure$' "$log" | head -40 || true
echo "rounds passed: $passed/$rounds (log: $log)"
[ "$status" -eq 0 ] && [ "$passed" -eq "$rounds" ]
