#!/usr/bin/env bash
# The main job, end to end on this Linux host: builds everything, builds the
# sample patch from examples/sample-patch with `qptool build`, lays out a
# sample installation of QUOR 1.01 (drive C folder, registry file, Quor.exe,
# the game's HPFS pack packs\local.wdt), applies the patch with scripted
# answers, and shows the transcript of what the player saw and what changed.
# Usage: scripts/demo.sh [work-folder]   (default: build/demo-run, made anew)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/.." && pwd)"
source "$here/ensure-packages.sh"
ensure_packages "${QP_BUILD_PACKAGES[@]}"
# lnkinfo shows the shortcut; the demo goes on without it.
ensure_packages liblnk-utils >/dev/null 2>&1 || true

build="$root/build/demo"
work="${1:-$root/build/demo-run}"
jobs="${QP_JOBS:-2}"

echo "== building (release, no tests) in $build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQP_TESTS=OFF >/dev/null
cmake --build "$build" -j "$jobs" --target quorpatch qptool >/dev/null
qptool="$build/tools/qptool"
patcher="$build/src/app/quorpatch"

rm -rf "$work"
mkdir -p "$work"
patch="$work/QuorPatch105.exe"

echo "== building the patch from examples/sample-patch"
"$qptool" build --stub "$patcher" --from "$root/examples/sample-patch" --out "$patch"
ls -l "$patch"

echo "== creating a sample installation of QUOR 1.01 in $work"
"$qptool" sample-install "$work"
game="$work/c/Games/Quor"
listing() { (cd "$game" && find . -type f -printf '%P\t%s bytes\t' -exec sh -c 'md5sum < "$1" | cut -c1-12' _ {} \; | sort); }
listing >"$work/before.txt"
cp "$work/registry.reg" "$work/registry-before.reg"

echo "== applying the patch (answers: Yes to the welcome question, OK to the last box)"
mkdir -p "$work/mutex"
set +e
W32_DRIVE_C="$work/c" \
W32_REGISTRY_FILE="$work/registry.reg" \
W32_TRANSCRIPT="$work/transcript.jsonl" \
W32_ANSWERS="yes,ok" \
W32_MUTEX_DIR="$work/mutex" \
W32_PROGRAMS_DIR='C:\Menu\Programs' \
    "$patch" </dev/null
code=$?
set -e
echo "exit code: $code"

echo
echo "== transcript (every box, dialog text and answer, in order)"
cat "$work/transcript.jsonl"

echo
echo "== game folder: files before and after (path, size, checksum)"
listing >"$work/after.txt"
diff -u --label before "$work/before.txt" --label after "$work/after.txt" || true

echo
echo "== registry"
diff -u --label before "$work/registry-before.reg" --label after "$work/registry.reg" | tr -d '\r' || true

echo
echo "== Start-menu shortcuts"
find "$work/c/Menu/Programs" -name '*.lnk' | while read -r link; do
    echo "$link"
    if command -v lnkinfo >/dev/null; then lnkinfo "$link" | sed -n '/Description/,$p' | grep -E 'Description|Relative path|Working directory|Icon location' || true; fi
done
[ "$code" -eq 0 ] || { echo "the patch did not complete" >&2; exit 1; }
echo
echo "demo complete: the patch brought QUOR 1.01 to 1.05"
