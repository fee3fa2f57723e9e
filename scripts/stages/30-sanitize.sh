#!/usr/bin/env bash
# The suite under AddressSanitizer and UndefinedBehaviorSanitizer, halting on
# the first error.
set -euo pipefail
build="$QP_ROOT/build/asan"
cmake -S "$QP_ROOT" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc \
    -DCMAKE_BUILD_TYPE=Debug -DQP_SANITIZE=ON >/dev/null
cmake --build "$build" -j "$QP_JOBS"
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
ctest --test-dir "$build" --output-on-failure -j "$QP_JOBS"
