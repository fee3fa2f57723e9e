#!/usr/bin/env bash
# The suite built with clang++ (warnings are errors there too) under
# AddressSanitizer and UndefinedBehaviorSanitizer, halting on the first error,
# at -O1 (the sanitizers' usual level: fast, still exact reports). The
# benchmarks are built so that they keep compiling. The damage campaign runs
# a spread of its cases here (QP_DAMAGE_EVERY), and the power-cut walk every
# third cut point (QP_POWER_CUT_EVERY); stage 10 runs them all.
set -euo pipefail
source "$QP_ROOT/scripts/ensure-packages.sh"
source "$QP_ROOT/scripts/build-flags.sh"
ensure_packages clang libclang-rt-14-dev libbenchmark-dev zlib1g-dev
build="$QP_ROOT/build/clang-asan"
cmake -S "$QP_ROOT" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
    -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -gline-tables-only" \
    -DCMAKE_C_FLAGS_DEBUG="-O1 -gline-tables-only" -DQP_SANITIZE=ON -DQP_BENCH=ON "${QP_BATCH_FLAGS[@]}" >/dev/null
cmake --build "$build" -j "$QP_JOBS"
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:abort_on_error=1"
export LSAN_OPTIONS="suppressions=$QP_ROOT/scripts/lsan.supp"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
QP_POWER_CUT_EVERY="${QP_POWER_CUT_EVERY:-3}" QP_DAMAGE_EVERY="${QP_DAMAGE_EVERY:-3}" ctest --test-dir "$build" --output-on-failure -j "$QP_JOBS"
