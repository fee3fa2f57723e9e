#!/usr/bin/env bash
# The same suite built with clang++ (warnings are errors there too), with the
# benchmarks built so that they keep compiling.
set -euo pipefail
source "$QP_ROOT/scripts/ensure-packages.sh"
ensure_packages libbenchmark-dev zlib1g-dev
build="$QP_ROOT/build/clang"
cmake -S "$QP_ROOT" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
    -DQP_BENCH=ON >/dev/null
cmake --build "$build" -j "$QP_JOBS"
ctest --test-dir "$build" --output-on-failure -j "$QP_JOBS"
