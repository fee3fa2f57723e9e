#!/usr/bin/env bash
# Delta benchmark (figures, not a test): for each pair of versions, every
# changed file is encoded by our delta coder (the raw delta, then the
# container a pack stores it in) and by bsdiff, `xdelta3 -9` and
# `zstd -19 --long=27 --patch-from`, with the time and peak memory of each
# (GNU time). The largest changed file of each pair is then rebuilt from its
# stored delta next to the patcher's whole-file copy out of its container,
# and the rebuild's peak memory is set against the copy's (the baseline).
# Pairs: two Debian builds of postgresql-15 and of libpython3.11 (fetched
# with apt-get download into a cache outside the repository and unpacked
# with dpkg -x), Windows executables from npm packages that ship prebuilt
# binaries (two consecutive releases each, 32- and 64-bit, fetched with
# npm pack into the same cache), and a game-like HPFS pack written by our own
# writer with a few entries rewritten, one inserted and one removed.
# Last, the patcher's check of the installed files before its first change,
# with and without the digests deltas carry (SHA-256 before, BLAKE3 today).
# Usage: bench/delta.sh   (QP_BENCH_MIN_SIZE: only changed files of at least
# this many bytes, default 0 = all; QP_BENCH_CACHE: download cache, default
# ~/.cache/quorpatch-delta-bench; QP_BENCH_BUILD: build folder; QP_BENCH_WORK
# keeps the scratch dir; QP_BENCH_PAIRS: only the pairs named, comma-separated;
# QP_BENCH_ONLY=measure runs only the check's figures). On a machine shared with other sessions, run it in
# a scheduling group of its own (see bench/whole_patch.sh).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QP_BENCH_BUILD:-$root/build/bench-delta}"
cache="${QP_BENCH_CACHE:-$HOME/.cache/quorpatch-delta-bench}"
for tool in bsdiff xdelta3 zstd npm /usr/bin/time; do
  command -v "$tool" >/dev/null || apt-get install -y bsdiff xdelta3 zstd npm time >/dev/null
done
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQP_TESTS=OFF -DQP_BENCH=ON >/dev/null
cmake --build "$build" -j "${QP_JOBS:-2}" --target bench_delta >/dev/null
driver="$build/bench/bench_delta"
source "$root/bench/sample-install.sh"
build_bench_programs  # qptool and the patcher, for the pairs as patches

work="${QP_BENCH_WORK:-$(mktemp -d)}"
mkdir -p "$work" "$cache"
[ -n "${QP_BENCH_WORK:-}" ] || trap 'rm -rf "$work"' EXIT

fetch() {  # package=version -> unpacked folder in the cache
  local name="${1%%=*}" version="${1#*=}" dir="$cache/${1//[=:]/_}"
  if [ ! -d "$dir" ]; then
    (cd "$cache" && apt-get download "$1" >/dev/null 2>&1)
    mkdir -p "$dir.tmp" && dpkg -x "$cache/${name}_${version//:/%3a}"_*.deb "$dir.tmp" && mv "$dir.tmp" "$dir"
  fi
  echo "$dir"
}

fetch_npm() {  # name@version -> unpacked package folder in the cache
  local dir="$cache/npm/${1//[@\/]/_}"
  if [ ! -d "$dir" ]; then
    mkdir -p "$dir.tmp" && (cd "$dir.tmp" && npm pack --silent "$1" >/dev/null && tar xzf ./*.tgz && rm ./*.tgz)
    mv "$dir.tmp" "$dir"
  fi
  echo "$dir/package"
}

# Runs a command under GNU time; appends "seconds peakKB user system" to
# $work/t, the seconds to the microsecond (GNU time's own are hundredths,
# too coarse for a rebuild of a few hundredths).
timed() {
  local start="$EPOCHREALTIME"
  /usr/bin/time -f "%M %U %S" -o "$work/t1" "$@" >"$work/stdout" 2>"$work/err" || { cat "$work/err" >&2; return 1; }
  echo "$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN {printf "%.6f", b - a}') $(cat "$work/t1")" >> "$work/t"
}
size() { stat -c %s "$1"; }

# The files of the new folder that the old one has with other bytes, of at
# least min-size bytes.
changed_files() {  # old-folder new-folder min-size
  (cd "$2" && find . -type f ! -type l | sort) | while read -r f; do
    if [ -f "$1/$f" ] && [ "$(stat -c %s "$2/$f")" -ge "$3" ] && ! cmp -s "$1/$f" "$2/$f"; then echo "$f"; fi
  done
}

declare -a rows
wanted() { [ -z "${QP_BENCH_PAIRS:-}" ] || [[ ",$QP_BENCH_PAIRS," == *",$1,"* ]]; }
pair() {  # name old-folder new-folder
  wanted "$1" || return 0
  local name="$1" old="$2" new="$3" list="$work/$1.files"
  changed_files "$old" "$new" "${QP_BENCH_MIN_SIZE:-0}" > "$list"
  local out="$work/$name.sizes"; : > "$out"
  # The largest changed file, rebuilt below; the peers' deltas of it are kept.
  local big
  big="$(while read -r f; do echo "$(stat -c %s "$new/$f") $f"; done < "$list" | sort -k1,1nr -k2 | awk 'NR == 1 {print $2}')"
  while read -r f; do
    local o="$old/$f" n="$new/$f" d="$work/d"
    : > "$work/t"
    timed "$driver" encode "$o" "$n" "$d"
    read -r raw stored < "$work/stdout"
    # The whole file's container only sizes the comparison: not timed.
    "$driver" store "$n" "$d.whole"; local whole; whole="$(size "$d.whole")"
    timed bsdiff "$o" "$n" "$d.bsdiff"
    timed xdelta3 -9 -f -e -s "$o" "$n" "$d.xd3"
    timed zstd -q -f -19 --long=27 --patch-from="$o" "$n" -o "$d.zst"
    [ "$f" != "$big" ] || for peer in bsdiff xd3 zst; do cp "$d.$peer" "$work/big.$peer"; done
    # Today's stream without predicted references, for its size: not timed.
    local plain; plain="$("$driver" encode "$o" "$n" "$d.plain" 0 plain | awk '{print $2}')"
    echo "$f $(size "$n") $raw $stored $(size "$d.bsdiff") $(size "$d.xd3") $(size "$d.zst") $whole $(tr '\n' ' ' < "$work/t") $plain" >> "$out"
  done < "$list"
  # Per file (largest ten) and summed.
  echo
  echo "### $name: $(wc -l < "$list") changed files (of at least ${QP_BENCH_MIN_SIZE:-0} bytes)"
  echo
  echo "| file | new size | ours raw | ours stored | bsdiff | xdelta3 -9 | zstd -19 --patch-from | whole stored | stored / bsdiff | ours stored, references not predicted |"
  echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
  # (awk, not head, takes the first lines: sort must not die of a closed
  # pipe, which pipefail would turn into the script's silent end)
  sort -k2,2nr "$out" | awk 'NR <= 10 {printf "| %s | %d | %d | %d | %d | %d | %d | %d | %.2f | %d |\n", $1, $2, $3, $4, $5, $6, $7, $8, $4 / $5, $25}'
  awk '{for (i = 2; i <= 8; ++i) s[i] += $i; s[25] += $25} END {printf "| **sum** | %d | %d | **%d** | %d | %d | %d | %d | %.2f | %d |\n", s[2], s[3], s[4], s[5], s[6], s[7], s[8], s[4] / s[5], s[25];
       best = s[5]; if (s[6] < best) best = s[6]; if (s[7] < best) best = s[7];
       printf "\nSize: ours stored %d vs best peer %d (%.1f%%)\n", s[4], best, 100 * s[4] / best}' "$out"
  awk '{for (k = 0; k < 4; ++k) {t[k] += $(9 + 4 * k); c[k] += $(11 + 4 * k) + $(12 + 4 * k); if ($(10 + 4 * k) > m[k]) m[k] = $(10 + 4 * k)}}
       END {printf "\n| encode | ours | bsdiff | xdelta3 -9 | zstd -19 |\n|---|---:|---:|---:|---:|\n";
            printf "| wall seconds (summed) | %.2f | %.2f | %.2f | %.2f |\n", t[0], t[1], t[2], t[3];
            printf "| CPU seconds, all threads (summed) | %.2f | %.2f | %.2f | %.2f |\n", c[0], c[1], c[2], c[3];
            printf "| peak memory MB (largest) | %.1f | %.1f | %.1f | %.1f |\n", m[0] / 1024, m[1] / 1024, m[2] / 1024, m[3] / 1024}' "$out"

  # The largest changed file: rebuilt from its stored delta vs copied whole.
  "$driver" encode "$old/$big" "$new/$big" "$work/big" >/dev/null
  "$driver" encode "$old/$big" "$new/$big" "$work/big-plain" 0 plain >/dev/null
  "$driver" store "$new/$big" "$work/big.whole"
  local copy=() apply=() alone=() peers=() plainApply=()
  for rep in 1 2 3 4 5; do
    : > "$work/t"; timed "$driver" copy "$work/big.whole" "$work/big.copy"; copy+=("$(cat "$work/t")")
    : > "$work/t"; timed "$driver" apply "$old/$big" "$work/big.lzss" "$work/big.out"; apply+=("$(cat "$work/t")")
    : > "$work/t"; timed "$driver" apply "$old/$big" "$work/big.lzss" "$work/big.out1" 1; alone+=("$(cat "$work/t")")
    : > "$work/t"; timed "$driver" apply "$old/$big" "$work/big-plain.lzss" "$work/big.out2"; plainApply+=("$(cat "$work/t")")
    # The peers' own appliers, each flushing its result as ours does.
    : > "$work/t"
    timed sh -c 'bspatch "$1" "$2" "$3" && sync "$2"' - "$old/$big" "$work/big.out.bsdiff" "$work/big.bsdiff"
    timed sh -c 'xdelta3 -f -d -s "$1" "$3" "$2" && sync "$2"' - "$old/$big" "$work/big.out.xd3" "$work/big.xd3"
    timed sh -c 'zstd -q -f -d --long=27 --patch-from="$1" "$3" -o "$2" && sync "$2"' - "$old/$big" \
      "$work/big.out.zst" "$work/big.zst"
    peers+=("$(awk '{printf "%s ", $1}' "$work/t")")
  done
  for out in out out1 out2 out.bsdiff out.xd3 out.zst; do
    cmp -s "$work/big.$out" "$new/$big" || { echo "rebuilt $big differs ($out)" >&2; exit 1; }
  done
  printf '%s\n' "${copy[@]}" > "$work/copy.t"; printf '%s\n' "${apply[@]}" > "$work/apply.t"
  printf '%s\n' "${alone[@]}" > "$work/alone.t"; printf '%s\n' "${plainApply[@]}" > "$work/plain.t"
  local cs cm cu ck as am au ak os
  read -r cs cm cu ck < <(sort -g "$work/copy.t" | awk 'NR == 1')
  read -r as am au ak < <(sort -g "$work/apply.t" | awk 'NR == 1')
  os="$(sort -g "$work/alone.t" | awk 'NR == 1 {print $1}')"
  local ps; ps="$(sort -g "$work/plain.t" | awk 'NR == 1 {print $1}')"
  echo
  echo "Fastest of 5 runs each, flushed to disk as the patcher does; the rebuild with its helper thread, as"
  echo "the patcher does it, and on one thread; today's stream (references not predicted) rebuilt the same way."
  echo
  awk -v f="$big" -v n="$(size "$new/$big")" -v cs="$cs" -v as="$as" -v os="$os" -v ps="$ps" -v cm="$cm" -v am="$am" \
      -v cc="$(awk -v u="$cu" -v k="$ck" 'BEGIN {print u + k}')" -v ac="$(awk -v u="$au" -v k="$ak" 'BEGIN {print u + k}')" 'BEGIN {
    printf "| apply, largest file | size | whole copy s | rebuild s | ratio | one thread s | ratio | today s | ratio | copy CPU s | rebuild CPU s | copy peak MB | rebuild peak MB | above baseline MB |\n";
    printf "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n";
    printf "| %s | %d | %.3f | %.3f | %.2f | %.3f | %.2f | %.3f | %.2f | %.2f | %.2f | %.1f | %.1f | %.1f |\n", f, n, cs, as, (cs > 0 ? as / cs : 0), os, (cs > 0 ? os / cs : 0), ps, (cs > 0 ? ps / cs : 0), cc, ac, cm / 1024, am / 1024, (am - cm) / 1024}'
  echo
  echo "The same file rebuilt by the peers' own appliers from their deltas (fastest of 5, flushed; seconds):"
  echo
  printf '%s\n' "${peers[@]}" | awk -v f="$big" -v as="$as" -v cs="$cs" '
    {for (k = 1; k <= 3; ++k) if (NR == 1 || $k < m[k]) m[k] = $k}
    END {printf "| file | ours | bspatch | xdelta3 -d | zstd -d --patch-from | whole copy |\n|---|---:|---:|---:|---:|---:|\n";
         printf "| %s | %.3f | %.3f | %.3f | %.3f | %.3f |\n", f, as, m[1], m[2], m[3], cs}'
}

# The pair as a whole patch, applied by the patcher to an installation of
# the old version: the patch carrying the changed files as deltas against
# the one carrying them whole (--whole), fastest of 3 applies each, and the
# patch sizes. A package of many small changed files shows here what it
# costs the player to apply, beside what it saves downloading.
patch_pair() {  # name old-folder new-folder
  wanted "$1" || return 0
  local name="$1" base="$work/patch-$1"
  rm -rf "$base" && mkdir -p "$base"
  for side in old new; do
    cp -a "$([ "$side" = old ] && echo "$2" || echo "$3")/." "$base/$side/"
    find "$base/$side" -type l -delete  # a game folder holds files and folders only
    printf 'game' > "$base/$side/Quor.exe"
  done
  sed -e 's/^ver = .*/ver = 10002/' -e 's/^zln_shortcut = .*/zln_shortcut = 0/' \
    "$root/examples/sample-patch/Patch.ini" > "$base/Patch.ini"
  local carried
  carried="$("$tool" build --stub "$stub" --strings "$base/Patch.ini" --base 1.01="$base/old" --from "$base/new" \
    --out "$base/delta.exe" | grep "carried whole")"
  "$tool" build --stub "$stub" --strings "$base/Patch.ini" --base 1.01="$base/old" --from "$base/new" --whole \
    --out "$base/whole.exe" >/dev/null
  local kind seconds
  for kind in delta whole; do
    seconds=()
    for rep in 1 2 3; do
      make_install "$base/install"
      cp -a "$base/old/." "$base/install/C/Games/Quor/"
      sync
      local start="$EPOCHREALTIME"
      on_install "$base/install" yes,ok "$base/$kind.exe" >/dev/null 2>&1 || { echo "$kind patch of $name failed" >&2; exit 1; }
      seconds+=("$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN {printf "%.3f", b - a}')")
      (cd "$base/install/C/Games/Quor" && find . -type f -exec md5sum {} + | awk '{print tolower($2), $1}' | sort) > "$base/got"
      (cd "$base/new" && find . -type f -exec md5sum {} + | awk '{print tolower($2), $1}' | sort) > "$base/want"
      cmp -s "$base/got" "$base/want" || { echo "the $kind patch of $name left other bytes" >&2; exit 1; }
    done
    printf '%s\n' "${seconds[@]}" | sort -g | awk 'NR == 1' > "$base/$kind.s"
  done
  echo
  echo "$name as a patch ($carried):"
  echo
  echo "| patch | bytes | apply s (fastest of 3) |"
  echo "|---|---:|---:|"
  for kind in delta whole; do
    echo "| $kind | $(size "$base/$kind.exe") | $(cat "$base/$kind.s") |"
  done
}

# The patcher's check before its first change: every installed file it has
# deltas for (the old version of each changed file) opened and read once
# through the disk layer for its size and CRC-32, one after another (the
# pass before digests), for its SHA-256 as the patcher took it (its measure
# queue, on this thread and a helper thread; by the processor's SHA
# extensions where it has them, and by the portable rounds), and for its
# BLAKE3 as the patcher takes it today (the same queue); timed from the
# first open, the fastest of 5 runs each, from the page cache (warm) and
# read from disk (cold: each file dropped from the cache first).
measure_pair() {  # name old-folder new-folder
  local name="$1" old="$2" files=() bytes=0 f
  while read -r f; do files+=("$old/$f"); bytes=$((bytes + $(size "$old/$f"))); done \
    < <(changed_files "$old" "$3" 0)
  local temperature kind rep
  for temperature in warm cold; do
    local row="| $name | $temperature | ${#files[@]} | $(awk -v b="$bytes" 'BEGIN {printf "%.1f", b / 1048576}')"
    local base=""
    for kind in crc sha portable blake; do
      local best=""
      for rep in 1 2 3 4 5; do
        local s
        s="$("$driver" measure "$kind" "$temperature" "${files[@]}" | awk '{print $1}')"
        best="$(awk -v a="$best" -v b="$s" 'BEGIN {print (a == "" || b < a) ? b : a}')"
      done
      if [ -z "$base" ]; then base="$best"; row+=" | $best"
      else row+=" | $best | $(awk -v a="$best" -v b="$base" 'BEGIN {printf "%.2f", a / b}')"; fi
    done
    echo "$row |"
  done
}

pg_old="$(fetch postgresql-15=15.18-0+deb12u1)"
pg_new="$(fetch postgresql-15=15.20-0+deb12u1)"
py_old="$(fetch libpython3.11=3.11.2-6+deb12u8)"
py_new="$(fetch libpython3.11=3.11.2-6+deb12u9)"
swc_old="$(fetch_npm @swc/core-win32-ia32-msvc@1.16.20)"
swc_new="$(fetch_npm @swc/core-win32-ia32-msvc@1.16.22)"
rollup_old="$(fetch_npm @rollup/rollup-win32-x64-msvc@4.52.4)"
rollup_new="$(fetch_npm @rollup/rollup-win32-x64-msvc@4.52.5)"
mkdir -p "$work/hpfs-old" "$work/hpfs-new"
"$driver" hpfs "$work/hpfs-old/local.wdt" "$work/hpfs-new/local.wdt"

measure_table() {
  echo
  echo "The check before the first change (seconds, fastest of 5; ratio to the size and CRC-32 pass):"
  echo
  echo "| pair | cache | files | MB | CRC-32 s | SHA-256 s | ratio | SHA-256 portable s | ratio | BLAKE3 s | ratio |"
  echo "|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
  measure_pair libpython3.11 "$py_old" "$py_new"
  measure_pair postgresql-15 "$pg_old" "$pg_new"
  measure_pair hpfs-pack "$work/hpfs-old" "$work/hpfs-new"
}
if [ "${QP_BENCH_ONLY:-}" = measure ]; then measure_table; exit 0; fi

echo "## Delta benchmark ($(nproc) cores; sizes in bytes)"
pair libpython3.11 "$py_old" "$py_new"
pair postgresql-15 "$pg_old" "$pg_new"
pair swc-win32-ia32 "$swc_old" "$swc_new"
pair rollup-win32-x64 "$rollup_old" "$rollup_new"
pair hpfs-pack "$work/hpfs-old" "$work/hpfs-new"
patch_pair libpython3.11 "$py_old" "$py_new"
patch_pair postgresql-15 "$pg_old" "$pg_new"
patch_pair hpfs-pack "$work/hpfs-old" "$work/hpfs-new"
measure_table
