#!/usr/bin/env bash
# Whole-patch benchmark (figures, not a test): builds a small patch (15 files,
# about 3.6 MB packed) and a large one (2,000 files, about 64 MB packed) with
# qptool, applies each with the Linux patcher under scripted answers next to
# `cp -r` of the same tree in the same run, compares the container with
# `gzip -6` of a tar of the tree, and measures the patcher's peak resident
# memory on the large patch against its own baseline (a run that stops at the
# welcome question). Prints a Markdown table.
# Usage: bench/whole_patch.sh [repetitions]   (QP_BENCH_WORK keeps the scratch dir)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
reps="${1:-3}"
build="$root/build/bench-release"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQP_TESTS=OFF >/dev/null
cmake --build "$build" -j "${QP_JOBS:-2}" --target qptool quorpatch >/dev/null
tool="$build/tools/qptool"
stub="$build/src/app/quorpatch"
[ -x "$tool" ] && [ -x "$stub" ] || { echo "qptool or quorpatch missing in $build" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time missing (Debian package time)" >&2; exit 1; }

work="${QP_BENCH_WORK:-$(mktemp -d)}"
mkdir -p "$work"
[ -n "${QP_BENCH_WORK:-}" ] || trap 'rm -rf "$work"' EXIT
g++ -std=c++17 -O2 -o "$work/make_tree" "$root/bench/make_tree.cpp"

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.3f\n", b - a}'; }
median() { sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
mb() { awk -v b="$1" 'BEGIN {printf "%.2f", b / 1048576}'; }

# Path (any letter case: the pack keeps names upper-cased) and checksum of
# every file of a tree but the game's Quor.exe.
tree_sums() {
    (cd "$1" && find . -type f ! -name Quor.exe -exec md5sum {} + | awk '{print tolower($2), $1}' | sort)
}

# A fresh sample installation: drive C: with the game folder, the registry hive
# (the game's key in the 32-bit view, where its installer leaves it).
make_install() {
    local dir="$1"
    rm -rf "$dir"
    mkdir -p "$dir/C/Games/Quor" "$dir/C/Programs" "$dir/mutex"
    printf 'game' >"$dir/C/Games/Quor/Quor.exe"
    printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Orvandel\\Quor]\r\n"Path"="C:\\\\Games\\\\Quor\\\\"\r\n"GameVersion"=dword:00010001\r\n\r\n' \
        >"$dir/registry.reg"
}

# Runs the patch on the installation with the given answers; prints seconds.
apply_patch() {
    local patch="$1" dir="$2" answers="$3" timing="${4:-}"
    local start end
    start=$(now)
    W32_DRIVE_C="$dir/C" W32_REGISTRY_FILE="$dir/registry.reg" W32_ANSWERS="$answers" \
        W32_TRANSCRIPT="$dir/transcript.jsonl" W32_MUTEX_DIR="$dir/mutex" W32_PROGRAMS_DIR='C:\Programs' \
        ${timing:+/usr/bin/time -f %M -o "$timing"} "$patch" >/dev/null 2>"$dir/stderr" || true
    end=$(now)
    elapsed "$start" "$end"
}

printf '| Patch | Files | Tree MB | Container MB | gzip -6 tar MB | Build s | Build MB/s | Apply s | cp -r s | Apply / cp |\n'
printf '|---|---|---|---|---|---|---|---|---|---|\n'
for profile in small large; do
    base="$work/$profile"
    rm -rf "$base"
    mkdir -p "$base"
    "$work/make_tree" "$profile" "$base/Files" >/dev/null
    cp "$root/examples/sample-patch/Patch.ini" "$base/Patch.ini"
    files=$(find "$base/Files" -type f | wc -l)
    tree_bytes=$(find "$base/Files" -type f -printf '%s\n' | awk '{s+=$1} END {print s}')
    gzip_bytes=$(tar -cf - -C "$base/Files" . | gzip -6 | wc -c)

    builds=()
    for _ in $(seq "$reps"); do
        rm -f "$base/patch"
        start=$(now)
        "$tool" build --stub "$stub" --strings "$base/Patch.ini" --files "$base/Files" --out "$base/patch" >/dev/null
        builds+=("$(elapsed "$start" "$(now)")")
    done
    chmod +x "$base/patch"
    build_s=$(printf '%s\n' "${builds[@]}" | median)
    container_bytes=$(( $(stat -c %s "$base/patch") - $(stat -c %s "$stub") ))

    applies=()
    copies=()
    for _ in $(seq "$reps"); do
        make_install "$base/install"
        applies+=("$(apply_patch "$base/patch" "$base/install" yes,ok)")
        [ "$(tree_sums "$base/Files")" = "$(tree_sums "$base/install/C/Games/Quor")" ] \
            || { echo "the $profile patch did not copy the tree" >&2; cat "$base/install/transcript.jsonl" >&2; exit 1; }
        rm -rf "$base/copy"
        start=$(now)
        cp -r "$base/Files" "$base/copy"
        copies+=("$(elapsed "$start" "$(now)")")
    done
    apply_s=$(printf '%s\n' "${applies[@]}" | median)
    copy_s=$(printf '%s\n' "${copies[@]}" | median)

    printf '| %s | %d | %s | %s | %s | %.2f | %.1f | %.3f | %.3f | %.2f |\n' "$profile" "$files" \
        "$(mb "$tree_bytes")" "$(mb "$container_bytes")" "$(mb "$gzip_bytes")" "$build_s" \
        "$(awk -v b="$tree_bytes" -v s="$build_s" 'BEGIN {print b / 1048576 / s}')" "$apply_s" "$copy_s" "$(awk -v a="$apply_s" -v c="$copy_s" 'BEGIN {print a / c}')"

    if [ "$profile" = large ]; then
        make_install "$base/install"
        apply_patch "$base/patch" "$base/install" no "$base/baseline.kb" >/dev/null
        make_install "$base/install"
        apply_patch "$base/patch" "$base/install" yes,ok "$base/peak.kb" >/dev/null
        baseline=$(tail -1 "$base/baseline.kb")
        peak=$(tail -1 "$base/peak.kb")
        mem_line=$(printf 'Peak resident memory applying the large patch: %d KB; baseline (declined welcome): %d KB; above baseline: %d KB (target under 8192 KB).' \
            "$peak" "$baseline" "$((peak - baseline))")
    fi
done
echo
echo "$mem_line"
