#!/usr/bin/env bash
# Unit and end-to-end tests, built with g++.
set -euo pipefail
source "$QP_ROOT/scripts/ensure-packages.sh"
build="$QP_ROOT/build/gcc"
cmake -S "$QP_ROOT" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc >/dev/null
cmake --build "$build" -j "$QP_JOBS"
ctest --test-dir "$build" --output-on-failure -j "$QP_JOBS"
