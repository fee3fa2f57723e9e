#!/usr/bin/env bash
# The largest patch, once (figures, not a test): a pack of 3 GiB (one sparse
# file, zeros but for random marks at its start, across 2 GiB and at its end)
# is built with qptool, verified, and applied by the Linux patcher, and the
# game file compared byte for byte with the source. Then the 32-bit patcher
# (built with -m32, run under qemu-i386) applies a patch whose file passes
# 2 GiB, and the 32-bit qptool verifies it. Prints a Markdown table: wall
# time and peak resident memory (GNU time -v) of every step.
# Usage: bench/large_patch.sh   (QP_BENCH_WORK keeps the scratch dir;
#   QP_LARGE_SIZE, default 3G, and QP_LARGE_SIZE32, default 2200M, are the
#   file sizes in truncate's units; QP_LARGE_SKIP32=1 skips the 32-bit run,
#   QP_LARGE_ONLY32=1 runs only it, QP_LARGE_BUILD32 is explained below)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/bench/sample-install.sh"
size="${QP_LARGE_SIZE:-3G}"
size32="${QP_LARGE_SIZE32:-2200M}"
build_bench_programs

work="${QP_BENCH_WORK:-$(mktemp -d)}"
mkdir -p "$work"
[ -n "${QP_BENCH_WORK:-}" ] || trap 'rm -rf "$work"' EXIT

# Runs a step under GNU time; prints "| step | seconds | peak MB |".
step() {
    local name="$1"
    shift
    if ! /usr/bin/time -v -o "$work/time.txt" "$@" >"$work/step.out" 2>&1; then
        echo "| $name: FAILED: $(tail -c 300 "$work/step.out" | tr '\n|' '  ') | | |"
        [ -n "${may_fail:-}" ] && return 0
        exit 1
    fi
    awk -v name="$name" '
        /Elapsed \(wall clock\)/ { n = split($NF, t, ":"); s = t[n] + (n > 1 ? 60 * t[n - 1] : 0) + (n > 2 ? 3600 * t[n - 2] : 0) }
        /Maximum resident set size/ { kb = $NF }
        END { printf "| %s | %.1f | %.1f |\n", name, s, kb / 1024 }' "$work/time.txt"
}

# A sparse file of the size with 1 MiB of random bytes at its start, across
# 2 GiB (when it is that large) and at its end.
make_source() {
    local file="$1" bytes
    rm -f "$file"
    truncate -s "$2" "$file"
    bytes=$(stat -c %s "$file")
    head -c 1048576 /dev/urandom | dd of="$file" conv=notrunc status=none
    [ "$bytes" -gt $((2147483648 + 524288)) ] &&
        head -c 1048576 /dev/urandom | dd of="$file" bs=512 seek=$(((2147483648 - 524288) / 512)) conv=notrunc status=none
    head -c 1048576 /dev/urandom | dd of="$file" bs=512 seek=$(((bytes - 1048576) / 512)) conv=notrunc status=none
    truncate -s "$bytes" "$file"
}

# apply <name> <install dir> <command...>: the patch with the answers yes, ok.
apply() {
    local name="$1" dir="$2"
    shift 2
    make_install "$dir"
    on_install "$dir" yes,ok step "$name" "$@"
}

# The pack keeps names upper-cased.
same() {
    cmp "$1" "$2" || { echo "$2 differs from its source" >&2; exit 1; }
    echo "| byte-exact: $(basename "$2"), $(stat -c %s "$2") bytes | | |"
}

echo "| Step | s | peak MB |"
echo "|---|---|---|"
mkdir -p "$work/tree/Files"
cp "$root/examples/sample-patch/Patch.ini" "$work/tree/Patch.ini"
if [ "${QP_LARGE_ONLY32:-}" != 1 ]; then
make_source "$work/tree/Files/big.bin" "$size"
step "qptool build, $size pack" "$tool" build --stub "$stub" --from "$work/tree" --out "$work/patch"
echo "| patch file: $(stat -c %s "$work/patch") bytes | | |"
step "qptool verify" "$tool" verify "$work/patch"
apply "patcher applies (64-bit)" "$work/install" "$work/patch"
same "$work/tree/Files/big.bin" "$work/install/C/Games/Quor/BIG.BIN"
rm -rf "$work/install"
fi

[ "${QP_LARGE_SKIP32:-}" = 1 ] && exit 0
qemu="$(command -v qemu-i386 || true)"
[ -n "$qemu" ] || { echo "| 32-bit: no qemu-i386 | | |"; exit 0; }
# QP_LARGE_BUILD32 names a 32-bit build to take the programs from (for
# example build/m32 of the test stage); else one is made here.
build32="${QP_LARGE_BUILD32:-$root/build/bench-m32}"
[ -n "${QP_LARGE_BUILD32:-}" ] || cmake -S "$root" -B "$build32" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQP_TESTS=OFF \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-linux-i686.cmake" >/dev/null
cmake --build "$build32" -j "${QP_JOBS:-2}" --target qptool quorpatch >/dev/null
make_source "$work/tree/Files/big.bin" "$size32"
# qptool gives the same bytes in both widths; the 32-bit patcher is the stub.
step "qptool build, $size32 pack, 32-bit stub" "$tool" build --stub "$build32/src/app/quorpatch" \
    --from "$work/tree" --out "$work/patch32"
apply "patcher applies (32-bit, qemu-i386)" "$work/install32" "$qemu" "$work/patch32"
same "$work/tree/Files/big.bin" "$work/install32/C/Games/Quor/BIG.BIN"
rm -rf "$work/install32"
may_fail=1 step "qptool verify (32-bit, qemu-i386)" "$qemu" "$build32/tools/qptool" verify "$work/patch32"
