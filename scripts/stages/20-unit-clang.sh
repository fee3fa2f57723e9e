#!/usr/bin/env bash
# The same suite built with clang++ (warnings are errors there too).
set -euo pipefail
build="$QP_ROOT/build/clang"
cmake -S "$QP_ROOT" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang >/dev/null
cmake --build "$build" -j "$QP_JOBS"
ctest --test-dir "$build" --output-on-failure -j "$QP_JOBS"
