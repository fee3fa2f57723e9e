#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each for QP_FUZZ_SECONDS (60) from its
# seed corpus; any crash, leak or sanitizer report fails the stage.
set -euo pipefail
source "$QP_ROOT/scripts/ensure-packages.sh"
ensure_packages clang libclang-rt-14-dev
build="$QP_ROOT/build/fuzz"
cmake -S "$QP_ROOT" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQP_FUZZ=ON -DQP_TESTS=OFF >/dev/null
cmake --build "$build" -j "$QP_JOBS"
seconds="${QP_FUZZ_SECONDS:-60}"
shopt -s nullglob
targets=("$build"/tests/fuzz/fuzz_*)
[ ${#targets[@]} -gt 0 ] || { echo "no fuzz targets built" >&2; exit 1; }
for target in "${targets[@]}"; do
    name="$(basename "$target")"
    corpus="$QP_ROOT/tests/fuzz/corpus/${name#fuzz_}"
    work="$build/corpus-${name#fuzz_}"
    mkdir -p "$work"
    echo "--- $name for ${seconds}s"
    args=("$work")
    [ -d "$corpus" ] && args+=("$corpus")
    "$target" -max_total_time="$seconds" -print_final_stats=0 -artifact_prefix="$build/$name-" "${args[@]}" \
        2>"$build/$name.log" || { tail -50 "$build/$name.log"; exit 1; }
    tail -1 "$build/$name.log"
done
