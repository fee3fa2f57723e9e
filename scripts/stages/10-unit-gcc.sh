#!/usr/bin/env bash
# Unit and end-to-end tests, built with g++. The end-to-end scenarios record
# their outcomes in build/gcc/e2e-record for the 32-bit stage to compare.
set -euo pipefail
source "$QP_ROOT/scripts/ensure-packages.sh"
source "$QP_ROOT/scripts/build-flags.sh"
build="$QP_ROOT/build/gcc"
cmake -S "$QP_ROOT" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc "${QP_CI_FLAGS[@]}" "${QP_BATCH_FLAGS[@]}" >/dev/null
cmake --build "$build" -j "$QP_JOBS"
rm -rf "$build/e2e-record"
mkdir -p "$build/e2e-record"
QP_E2E_RECORD="$build/e2e-record" ctest --test-dir "$build" --output-on-failure -j "$QP_JOBS"
touch "$build/e2e-record/.complete"
