#!/usr/bin/env bash
# Builds the libFuzzer targets (at -O1, as the sanitizers like it) and runs
# each for QP_FUZZ_SECONDS (35) from its seed corpus, QP_JOBS at a time; any
# crash, leak or sanitizer report fails the stage.
set -euo pipefail
source "$QP_ROOT/scripts/ensure-packages.sh"
source "$QP_ROOT/scripts/build-flags.sh"
ensure_packages clang libclang-rt-14-dev
build="$QP_ROOT/build/fuzz"
cmake -S "$QP_ROOT" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -gline-tables-only" \
    "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -gline-tables-only" -DQP_FUZZ=ON -DQP_TESTS=OFF "${QP_BATCH_FLAGS[@]}" >/dev/null
cmake --build "$build" -j "$QP_JOBS" --target fuzz_targets
seconds="${QP_FUZZ_SECONDS:-35}"
shopt -s nullglob
targets=("$build"/tests/fuzz/fuzz_*)
[ ${#targets[@]} -gt 0 ] || { echo "no fuzz targets built" >&2; exit 1; }

fuzz() {  # target: runs it, its log in build/fuzz/<name>.log
    local target="$1" name corpus work
    name="$(basename "$target")"
    corpus="$QP_ROOT/tests/fuzz/corpus/${name#fuzz_}"
    work="$build/corpus-${name#fuzz_}"
    mkdir -p "$work"
    local args=("$work")
    [ -d "$corpus" ] && args+=("$corpus")
    "$target" -max_total_time="$seconds" -print_final_stats=0 -artifact_prefix="$build/$name-" "${args[@]}" \
        2>"$build/$name.log"
}

echo "--- ${#targets[@]} targets for ${seconds}s each, $QP_JOBS at a time"
declare -A running=()
failed=()
finish() {  # waits for one target to end and reports it
    local pid name
    wait -n -p pid "${!running[@]}" && status=0 || status=$?
    name="${running[$pid]}"
    unset "running[$pid]"
    if [ "$status" -eq 0 ]; then
        echo "$name: $(tail -1 "$build/$name.log")"
    else
        echo "$name FAILED:"
        tail -50 "$build/$name.log"
        failed+=("$name")
    fi
}
for target in "${targets[@]}"; do
    [ "${#running[@]}" -lt "$QP_JOBS" ] || finish
    fuzz "$target" &
    running[$!]="$(basename "$target")"
done
while [ "${#running[@]}" -gt 0 ]; do finish; done
[ ${#failed[@]} -eq 0 ] || { echo "fuzz targets failed: ${failed[*]}" >&2; exit 1; }
