#!/usr/bin/env bash
# The 32-bit build: the library, the patcher, the host layer, qptool and every
# unit and end-to-end test built with -m32 and run under qemu-i386 (this
# machine's kernel starts no 32-bit programs; tests start the programs they
# built through the same emulator). Then the two widths are compared: the
# same set of tests, the same patch bytes from qptool build, and the same
# outcome of every end-to-end scenario as the 64-bit g++ build of stage 10
# (made here when that stage did not run). The damage campaign runs a spread
# of its cases here (QP_DAMAGE_EVERY), and the power-cut walk every third
# cut point (QP_POWER_CUT_EVERY); stage 10 runs them all.
set -euo pipefail
source "$QP_ROOT/scripts/ensure-packages.sh"
source "$QP_ROOT/scripts/build-flags.sh"
ensure_packages g++-multilib qemu-user googletest
build="$QP_ROOT/build/m32"
gcc64="$QP_ROOT/build/gcc"
cmake -S "$QP_ROOT" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$QP_ROOT/cmake/toolchain-linux-i686.cmake" "${QP_CI_FLAGS[@]}" "${QP_BATCH_FLAGS[@]}" >/dev/null
cmake --build "$build" -j "$QP_JOBS"
rm -rf "$build/e2e-record"
mkdir -p "$build/e2e-record"
QP_POWER_CUT_EVERY="${QP_POWER_CUT_EVERY:-3}" QP_DAMAGE_EVERY="${QP_DAMAGE_EVERY:-3}" QP_E2E_RECORD="$build/e2e-record" \
    ctest --test-dir "$build" --output-on-failure -j "$QP_JOBS"

# The 64-bit side, from stage 10 when its record is newer than its programs.
cmake -S "$QP_ROOT" -B "$gcc64" -G Ninja -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc "${QP_CI_FLAGS[@]}" "${QP_BATCH_FLAGS[@]}" >/dev/null
cmake --build "$gcc64" -j "$QP_JOBS"
stamp="$gcc64/e2e-record/.complete"
e2e64="$gcc64/tests/e2e/test_e2e"
stale=
for program in "$e2e64" "$gcc64/tools/qptool" "$gcc64/src/app/quorpatch" "$gcc64/tests/hostbin/w32_hold_mutex"; do
    [ -f "$stamp" ] && [ "$stamp" -nt "$program" ] || stale=1
done
if [ -n "$stale" ]; then
    echo "--- the 64-bit end-to-end record is missing or older than its build: making it"
    rm -rf "$gcc64/e2e-record"
    mkdir -p "$gcc64/e2e-record"
    QP_E2E_RECORD="$gcc64/e2e-record" "$e2e64" --gtest_brief=1
    touch "$stamp"
fi

echo "--- the same tests in both widths"
# By name, as each test program lists its cases (build/gtest-programs names
# the programs); a parameter's printed bytes (after "#") may differ with the width.
list_tests() {  # build folder, emulator
    local entry
    for entry in "$1"/gtest-programs/*; do
        $2 "$(cat "$entry")" --gtest_list_tests | awk '/^[^ ]/ { suite = $1; next } { print suite $1 }'
    done | sort
}
list_tests "$gcc64" "" >"$build/tests-64.txt"
list_tests "$build" "${QP_RUN_PREFIX:-qemu-i386}" >"$build/tests-32.txt"
[ -s "$build/tests-32.txt" ] || { echo "the 32-bit build lists no tests" >&2; exit 1; }
missing="$(comm -23 "$build/tests-64.txt" "$build/tests-32.txt")"
if [ -n "$missing" ]; then
    echo "tests of the 64-bit build that the 32-bit build lacks:" >&2
    echo "$missing" >&2
    exit 1
fi
echo "$(wc -l <"$build/tests-32.txt") tests in the 32-bit build, $(wc -l <"$build/tests-64.txt") in the 64-bit one"

echo "--- qptool build: the same patch from both widths"
compare="$build/compare"
rm -rf "$compare"
mkdir -p "$compare"
stub="$build/src/app/quorpatch"
"$gcc64/tools/qptool" build --stub "$stub" --from "$QP_ROOT/examples/sample-patch" --out "$compare/patch64.exe" >/dev/null
${QP_RUN_PREFIX:-qemu-i386} "$build/tools/qptool" build --stub "$stub" --from "$QP_ROOT/examples/sample-patch" \
    --out "$compare/patch32.exe" >/dev/null
cmp "$compare/patch64.exe" "$compare/patch32.exe"
echo "sample patch: $(stat -c %s "$compare/patch32.exe") bytes, identical"

echo "--- end-to-end scenarios: the same outcome in both widths"
scenarios="$(find "$build/e2e-record" -mindepth 1 -maxdepth 1 -type d | wc -l)"
[ "$scenarios" -gt 0 ] || { echo "the 32-bit end-to-end tests recorded nothing" >&2; exit 1; }
if ! diff -r --exclude=.complete "$gcc64/e2e-record" "$build/e2e-record" >"$compare/e2e.diff"; then
    echo "the end-to-end outcomes differ between the widths:" >&2
    head -100 "$compare/e2e.diff" >&2
    exit 1
fi
echo "$scenarios scenarios: payloads, exit codes, output, transcripts, game folders, registry and shortcuts identical"
