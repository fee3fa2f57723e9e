#!/usr/bin/env bash
# Builds the shipped set into dist/ (emptied first), as a publisher would:
#   windows-i686/quorpatch.exe    the patcher every patch carries, stripped,
#   windows-i686/quorpatch.dbg    its debug information, named by a debug link
#   windows-x86_64/quorpatch.exe, quorpatch.dbg
#   windows-x86_64/qptool.exe     the patch tool for Windows
#   linux-<machine>/qptool        the patch tool for Linux
#   SHA256SUMS                    of all of them (sha256sum -c SHA256SUMS)
# Every build is CMake's Release type (no tests), in build/release-<name>;
# the Windows builds add line tables, which change no code, for the .dbg
# files. Stops when a patcher is not under 256 KB.
# Usage: scripts/release.sh   (QP_JOBS: parallel jobs, default all cores)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
export QP_ROOT="$root"
jobs="${QP_JOBS:-$(nproc)}"
source "$root/scripts/ensure-packages.sh"
ensure_packages cmake ninja-build g++ mingw-w64
source "$root/scripts/compiler-cache.sh"

dist="$root/dist"
limit=$((256 * 1024))
linux="linux-$(uname -m)"

build() {  # build <name> <targets...> (configure arguments in $config)
    local name="$1"
    shift
    echo "--- $name"
    cmake -S "$root" -B "$root/build/release-$name" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQP_TESTS=OFF \
        "${config[@]}" >/dev/null
    cmake --build "$root/build/release-$name" -j "$jobs" --target "$@"
}

config=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" -DCMAKE_C_FLAGS=-g1 -DCMAKE_CXX_FLAGS=-g1)
build mingw-i686 quorpatch
config=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-x86_64.cmake" -DCMAKE_C_FLAGS=-g1 -DCMAKE_CXX_FLAGS=-g1)
build mingw-x86_64 quorpatch qptool
config=(-DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc -DCMAKE_UNITY_BUILD=ON)
build linux qptool

rm -rf "$dist"
mkdir -p "$dist/windows-i686" "$dist/windows-x86_64" "$dist/$linux"
for arch in i686 x86_64; do
    # The debug link names quorpatch.dbg: the two stay side by side, by that name.
    cp "$root/build/release-mingw-$arch/src/app/quorpatch.exe" "$root/build/release-mingw-$arch/src/app/quorpatch.dbg" \
        "$dist/windows-$arch/"
    size=$(stat -c %s "$dist/windows-$arch/quorpatch.exe")
    echo "windows-$arch/quorpatch.exe: $size bytes"
    if [ "$size" -ge "$limit" ]; then
        echo "windows-$arch/quorpatch.exe is $size bytes, not under $limit" >&2
        exit 1
    fi
done
x86_64-w64-mingw32-strip -o "$dist/windows-x86_64/qptool.exe" "$root/build/release-mingw-x86_64/tools/qptool.exe"
strip -o "$dist/$linux/qptool" "$root/build/release-linux/tools/qptool"
(cd "$dist" && sha256sum windows-i686/* windows-x86_64/* "$linux"/* >SHA256SUMS)
echo "dist/:"
(cd "$dist" && ls -l */*)
