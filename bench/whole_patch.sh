#!/usr/bin/env bash
# Whole-patch benchmark (figures, not a test): builds a small patch (15 files,
# about 3.6 MB packed), a large one (2,000 files, about 64 MB packed) and one
# of many small files (20,000 files of 1-16 KB) with qptool, applies each with
# the Linux patcher under scripted answers next to `tar xzf` of the same tree
# on the same disk in the same run, compares the container with
# `gzip -6` of a tar of the tree, and measures the patcher's peak resident
# memory on the large patch against its own baseline (a run that stops at the
# welcome question), and the cost of the checksum check before the welcome
# question against the large patch's apply time. The build is timed against
# `tar czf` of the same tree and against itself on one thread (--threads 1),
# in the same run, and its peak resident memory (GNU time's %M) is set
# against the largest file. Prints Markdown tables.
#
# The transaction (large and many): a two-version patch (--base of the old
# version, --whole) replaces every file of an installed old version, keeping
# each old file until the commit, and removes the files the new version
# drops; it is timed against the plain patch applied into an empty game
# folder, where there is no old file to keep or remove (the same files
# written, the journal as always), against the same two-version replace of
# an old version without the files the new one drops (built the same way,
# nothing to remove), and against `tar xzf` over the old tree (every file
# replaced, nothing kept). One more replacing run, with the patcher's log,
# tells when its last box ("done") appeared. On the large patch an Abort at the
# last file is timed from the answer to the end of the undo, from the
# patcher's own log. Where the bench may mount a volume (root, with mkntfs
# and ntfs-3g an NTFS one, else tmpfs), the replacing run's disk use is
# sampled there and its peak set against the check's figure (read from the
# check's box on a volume reported full).
# Usage: bench/whole_patch.sh [repetitions]   (QP_BENCH_WORK keeps the scratch dir;
# QP_BENCH_PROFILES="small large many" chooses the patches)
# On a machine shared with other sessions the scheduler gives each session
# an equal share, whatever the load in it: run it in a scheduling group of
# its own, as root, to measure what two cores do:
#   setsid bash -c 'echo -20 > /proc/self/autogroup; exec bench/whole_patch.sh'
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/bench/sample-install.sh"
reps="${1:-3}"
build_bench_programs

work="${QP_BENCH_WORK:-$(mktemp -d)}"
mkdir -p "$work"
[ -n "${QP_BENCH_WORK:-}" ] || trap 'rm -rf "$work"' EXIT
rm -rf "$work/aside"
g++ -std=c++17 -O2 -o "$work/make_tree" "$root/bench/make_tree.cpp"
g++ -std=c++17 -O2 -o "$work/peak_use" "$root/bench/peak_use.cpp"

# Trees of earlier repetitions are moved aside, not deleted, until the end:
# on a file system without a journal, ext4 passes over every inode freed in
# the last minutes when it makes a file, so deleting 2,000 or 20,000 files
# just before a timed run makes that run's file creation pay for them
# (both the patch and tar xzf, by how much depends on what was deleted
# last), and the figures would measure the scratch clean-up.
aside=0
set_aside() {
    if [ -e "$1" ]; then
        mkdir -p "$work/aside"
        aside=$((aside + 1))
        mv "$1" "$work/aside/$aside"
    fi
}
make_fresh_install() {
    set_aside "$1"
    make_install "$1"
}
# An installation of the old version (make_tree's "old" tree in the game
# folder), its names in the pack's letter case as a patch of ours leaves
# them: the host layer then finds every name as given, as in the empty
# folder's run, and does not pay for case-blind searches that Windows never
# makes.
make_old_install() {
    make_fresh_install "$1"
    cp -a "$base/${2:-OldUpper}/." "$1/C/Games/Quor/"
}

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.3f\n", b - a}'; }
median() { sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
# On a machine shared with other work the fastest of the repetitions is the
# one the others disturbed least.
fastest() { sort -g | head -1; }
mb() { awk -v b="$1" 'BEGIN {printf "%.2f", b / 1048576}'; }

# Path (any letter case: the pack keeps names upper-cased) and checksum of
# every file of a tree but the game's Quor.exe.
tree_sums() {
    (cd "$1" && find . -type f ! -name Quor.exe -exec md5sum {} + | awk '{print tolower($2), $1}' | sort)
}

# Each timed apply and extraction starts with no dirty data left by the step
# before: the patcher flushes the whole volume before it moves files in, and
# would otherwise pay for writing back the previous extraction's tree.
settle_disk() { sync; }

# Runs the patch on the installation with the given answers; prints seconds.
apply_patch() {
    local patch="$1" dir="$2" answers="$3" timing="${4:-}"
    local start end
    settle_disk
    start=$(now)
    on_install "$dir" "$answers" ${timing:+/usr/bin/time -f %M -o "$timing"} "$patch" >/dev/null 2>"$dir/stderr" || true
    end=$(now)
    elapsed "$start" "$end"
}

# The replacing run's peak disk use on a volume of its own, sampled, against
# the figure the check holds the free space against: the check's box on a
# volume that reports no free space names the megabytes missing, which are
# then the whole figure. On NTFS (mkntfs and ntfs-3g) the file records and
# folder indexes count as on Windows; tmpfs counts file data only.
measure_peak() {
    local vol="$base/vol" image="$work/volume.img" kind dir figure before most
    [ "$(id -u)" = 0 ] || return 0
    mkdir -p "$vol"
    local size=$(( (tree_bytes * 3 + (64 << 20)) >> 20 ))
    if command -v mkntfs >/dev/null && command -v ntfs-3g >/dev/null; then
        kind=NTFS
        rm -f "$image"
        truncate -s "${size}M" "$image"
        mkntfs -F -f -q "$image" >/dev/null 2>&1 && ntfs-3g "$image" "$vol" || return 0
    else
        kind=tmpfs
        mount -t tmpfs -o "size=${size}m" tmpfs "$vol" || return 0
    fi
    dir="$vol/install"
    make_old_install "$dir"
    W32_FAULT_SPACE=0 on_install "$dir" yes,cancel "$base/wpatch" >/dev/null 2>&1 || true
    figure=$(grep -o 'needs [0-9]* MB' "$dir/transcript.jsonl" | head -1 | awk '{print $2}')
    rm -f "$dir/transcript.jsonl" "$base/stop"
    sync
    before=$(stat -f -c '%b %f %S' "$vol" | awk '{print ($1 - $2) * $3}')
    "$work/peak_use" "$vol" "$base/stop" >"$base/peak" &
    local sampler=$!
    on_install "$dir" yes,ok "$base/wpatch" >/dev/null 2>&1 || true
    touch "$base/stop"
    wait "$sampler"
    most=$(cat "$base/peak")
    [ "$(tree_sums "$base/Files")" = "$(tree_sums "$dir/C/Games/Quor")" ] \
        || { echo "the $profile two-version patch failed on the $kind volume" >&2; umount "$vol"; exit 1; }
    umount "$vol"
    rm -f "$image"
    peak_lines+=("$(awk -v p="$profile" -v k="$kind" -v f="$figure" -v m="$((most - before))" \
        'BEGIN {printf "| %s | %s | %d | %.2f | %+.1f%% |", p, k, f, m / 1048576, 100 * (f * 1048576 - m) / m}')")
}

build_lines=()
cpu_lines=()
transaction_lines=()
done_lines=()
peak_lines=()
undo_line=
mem_line=""
check_line=""
printf '| Patch | Files | Tree MB | Container MB | gzip -6 tar MB | Build s | Build MB/s | Apply s | tar xzf s | Apply / tar xzf |\n'
printf '|---|---|---|---|---|---|---|---|---|---|\n'
for profile in ${QP_BENCH_PROFILES:-small large many}; do
    base="$work/$profile"
    rm -rf "$base"
    mkdir -p "$base"
    "$work/make_tree" "$profile" "$base/Files" >/dev/null
    cp "$root/examples/sample-patch/Patch.ini" "$base/Patch.ini"
    files=$(find "$base/Files" -type f | wc -l)
    tree_bytes=$(find "$base/Files" -type f -printf '%s\n' | awk '{s+=$1} END {print s}')
    gzip_bytes=$(tar -cf - -C "$base/Files" . | gzip -6 | wc -c)

    # The build on every core, on one thread, and tar czf of the same tree,
    # interleaved so that a change in the machine's load hits all three.
    builds=()
    singles=()
    tars=()
    for _ in $(seq "$reps"); do
        rm -f "$base/patch" "$base/patch1"
        start=$(now)
        "$tool" build --stub "$stub" --strings "$base/Patch.ini" --files "$base/Files" --out "$base/patch" >/dev/null 2>&1
        builds+=("$(elapsed "$start" "$(now)")")
        start=$(now)
        "$tool" build --stub "$stub" --strings "$base/Patch.ini" --files "$base/Files" --out "$base/patch1" \
            --threads 1 >/dev/null 2>&1
        singles+=("$(elapsed "$start" "$(now)")")
        cmp -s "$base/patch" "$base/patch1" || { echo "the $profile build differs on one thread" >&2; exit 1; }
        start=$(now)
        tar czf "$base/tree.tar.gz" -C "$base" Files
        tars+=("$(elapsed "$start" "$(now)")")
    done
    chmod +x "$base/patch"
    build_s=$(printf '%s\n' "${builds[@]}" | median)
    single_s=$(printf '%s\n' "${singles[@]}" | median)
    tar_s=$(printf '%s\n' "${tars[@]}" | median)
    rm -f "$base/patch1"
    # Peak memory and processor time (user + system) on every core and on
    # one: on a machine shared with other work the wall-clock speed-up can
    # hide, the processor time shows what the threads cost.
    /usr/bin/time -f '%M %U %S' -o "$base/build.kb" "$tool" build --stub "$stub" --strings "$base/Patch.ini" \
        --files "$base/Files" --out "$base/patch2" >/dev/null 2>&1
    cmp -s "$base/patch" "$base/patch2" || { echo "the $profile build is not reproducible" >&2; exit 1; }
    /usr/bin/time -f '%M %U %S' -o "$base/build1.kb" "$tool" build --stub "$stub" --strings "$base/Patch.ini" \
        --files "$base/Files" --out "$base/patch2" --threads 1 >/dev/null 2>&1
    rm -f "$base/patch2"
    build_kb=$(tail -1 "$base/build.kb" | awk '{print $1}')
    cpu_lines+=("$(printf '| %s | %.2f | %.2f | %s |' "$profile" \
        "$(tail -1 "$base/build.kb" | awk '{print $2 + $3}')" "$(tail -1 "$base/build1.kb" | awk '{print $2 + $3}')" \
        "$(uptime | sed 's/.*load average: //')")")
    largest_kb=$(find "$base/Files" -type f -printf '%s\n' | sort -n | tail -1 | awk '{printf "%d", $1 / 1024}')
    build_lines+=("$(printf '| %s | %d | %.2f | %.2f | %.2f | %.2f | %.2f | %.2f | %d | %d | %d |' "$profile" \
        "$(nproc)" "$build_s" "$single_s" "$tar_s" \
        "$(awk -v a="$build_s" -v b="$tar_s" 'BEGIN {print a / b}')" \
        "$(awk -v a="$single_s" -v b="$build_s" 'BEGIN {print a / b}')" \
        "$(awk -v b="$tree_bytes" -v s="$build_s" 'BEGIN {print b / 1048576 / s}')" \
        "$build_kb" "$largest_kb" "$((build_kb - largest_kb))")")
    container_bytes=$(( $(stat -c %s "$base/patch") - $(stat -c %s "$stub") ))

    whole=false
    if [ "$profile" != small ]; then
        whole=true
        "$work/make_tree" "$profile" "$base/Old" old >/dev/null
        "$work/make_tree" "$profile" "$base/OldUpper" old-upper >/dev/null
        # The trees carry no shortcut target: the base has none to point at.
        sed 's/^zln_shortcut = 1/zln_shortcut = 0/' "$base/Patch.ini" >"$base/Patch2.ini"
        "$tool" build --stub "$stub" --strings "$base/Patch2.ini" --base "$base/Old" --from "$base/Files" \
            --out "$base/wpatch" >"$base/wbuild.log" 2>&1 || { cat "$base/wbuild.log" >&2; exit 1; }
        chmod +x "$base/wpatch"
        # The same old version without the files the new one drops.
        rm -rf "$base/OldKept" "$base/OldKeptUpper"
        cp -a "$base/Old" "$base/OldKept"
        cp -a "$base/OldUpper" "$base/OldKeptUpper"
        rm -rf "$base/OldKept/retired" "$base/OldKeptUpper/RETIRED"
        "$tool" build --stub "$stub" --strings "$base/Patch2.ini" --base "$base/OldKept" --from "$base/Files" \
            --out "$base/kpatch" >"$base/kbuild.log" 2>&1 || { cat "$base/kbuild.log" >&2; exit 1; }
        chmod +x "$base/kpatch"
    fi

    applies=()
    copies=()
    replaces=()
    keeps=()
    overs=()
    for _ in $(seq "$reps"); do
        make_fresh_install "$base/install"
        applies+=("$(apply_patch "$base/patch" "$base/install" yes,ok)")
        [ "$(tree_sums "$base/Files")" = "$(tree_sums "$base/install/C/Games/Quor")" ] \
            || { echo "the $profile patch did not copy the tree" >&2; cat "$base/install/transcript.jsonl" >&2; exit 1; }
        set_aside "$base/copy"
        mkdir "$base/copy"
        settle_disk
        start=$(now)
        tar xzf "$base/tree.tar.gz" -C "$base/copy"
        copies+=("$(elapsed "$start" "$(now)")")
        $whole || continue
        make_old_install "$base/install"
        replaces+=("$(apply_patch "$base/wpatch" "$base/install" yes,ok)")
        # Every file new, the retired ones gone, nothing of the run left.
        [ "$(tree_sums "$base/Files")" = "$(tree_sums "$base/install/C/Games/Quor")" ] \
            && [ -z "$(find "$base/install/C/Games/Quor" -name '*.~q*' -o -iname retired)" ] \
            || { echo "the $profile two-version patch did not replace the tree" >&2; exit 1; }
        make_old_install "$base/install" OldKeptUpper
        keeps+=("$(apply_patch "$base/kpatch" "$base/install" yes,ok)")
        [ "$(tree_sums "$base/Files")" = "$(tree_sums "$base/install/C/Games/Quor")" ] \
            && [ -z "$(find "$base/install/C/Games/Quor" -name '*.~q*')" ] \
            || { echo "the $profile patch without removals did not replace the tree" >&2; exit 1; }
        set_aside "$base/copy"
        mkdir "$base/copy"
        cp -a "$base/Old/." "$base/copy/"
        settle_disk
        start=$(now)
        tar xzf "$base/tree.tar.gz" -C "$base/copy" --strip-components 1
        overs+=("$(elapsed "$start" "$(now)")")
    done
    apply_s=$(printf '%s\n' "${applies[@]}" | fastest)
    copy_s=$(printf '%s\n' "${copies[@]}" | fastest)
    if $whole; then
        replace_s=$(printf '%s\n' "${replaces[@]}" | fastest)
        keep_s=$(printf '%s\n' "${keeps[@]}" | fastest)
        over_s=$(printf '%s\n' "${overs[@]}" | fastest)
        transaction_lines+=("$(printf '| %s | %d | %.3f | %.3f | %.2f | %.3f | %.2f | %.3f | %.3f | %.2f | %.2f |' \
            "$profile" "$files" \
            "$replace_s" "$apply_s" "$(awk -v a="$replace_s" -v b="$apply_s" 'BEGIN {print a / b}')" \
            "$keep_s" "$(awk -v a="$replace_s" -v b="$keep_s" 'BEGIN {print a / b}')" \
            "$copy_s" "$over_s" "$(awk -v a="$replace_s" -v c="$copy_s" 'BEGIN {print a / c}')" \
            "$(awk -v a="$replace_s" -v c="$over_s" 'BEGIN {print a / c}')")")
        # The log's lines are led by the local time: its first line, the
        # "done" box and the outcome line. The log's own lines (one per file)
        # are in these times, not in the table's.
        make_old_install "$base/install"
        settle_disk
        on_install "$base/install" yes,ok "$base/wpatch" '/LOG=C:\run.log' >/dev/null 2>&1 || true
        done_lines+=("$(awk -v p="$profile" 'function s(x, t) {split(x, t, ":"); return t[1] * 3600 + t[2] * 60 + t[3]}
            NR == 1 {a = s($1)} /-> ok/ {d = s($1)} {e = s($1)}
            END {printf "| %s | %.3f | %.3f |", p, d - a, e - a}' "$base/install/C/run.log")")
        measure_peak
    fi

    printf '| %s | %d | %s | %s | %s | %.2f | %.1f | %.3f | %.3f | %.2f |\n' "$profile" "$files" \
        "$(mb "$tree_bytes")" "$(mb "$container_bytes")" "$(mb "$gzip_bytes")" "$build_s" \
        "$(awk -v b="$tree_bytes" -v s="$build_s" 'BEGIN {print b / 1048576 / s}')" "$apply_s" "$copy_s" "$(awk -v a="$apply_s" -v c="$copy_s" 'BEGIN {print a / c}')"

    if [ "$profile" = large ]; then
        # The checksum check runs before the welcome question: a declined run
        # is start-up, mount, the check (the stored bytes read raw, the last
        # blocks decoded) and the strings. A one-file patch's declined run is
        # the same start-up with next to nothing to check or mount: the
        # difference is the check's cost (and the larger pack's mount).
        mkdir -p "$base/one/Files"
        cp "$(find "$base/Files" -type f -print -quit)" "$base/one/Files/"
        "$tool" build --stub "$stub" --strings "$base/Patch.ini" --files "$base/one/Files" --out "$base/one/patch" >/dev/null 2>&1
        chmod +x "$base/one/patch"
        declines=()
        starts=()
        for _ in $(seq "$reps"); do
            make_fresh_install "$base/install"
            declines+=("$(apply_patch "$base/patch" "$base/install" no)")
            make_fresh_install "$base/install"
            starts+=("$(apply_patch "$base/one/patch" "$base/install" no)")
        done
        decline_s=$(printf '%s\n' "${declines[@]}" | median)
        start_s=$(printf '%s\n' "${starts[@]}" | median)
        check_line=$(printf 'Start-up with the checksum check (declined welcome, large patch): %.3f s; a one-file patch: %.3f s; the check costs %.3f s, %.1f%% of the apply time %.3f s (target under 10%%; the whole start-up is %.1f%%).' \
            "$decline_s" "$start_s" "$(awk -v d="$decline_s" -v s="$start_s" 'BEGIN {print d - s}')" \
            "$(awk -v d="$decline_s" -v s="$start_s" -v a="$apply_s" 'BEGIN {print 100 * (d - s) / a}')" "$apply_s" \
            "$(awk -v d="$decline_s" -v a="$apply_s" 'BEGIN {print 100 * d / a}')")
        # Abort at the last file of the two-version patch: its temporary file
        # cannot be made. The undo runs from the answer to the last box; the
        # patcher's log times both.
        make_old_install "$base/install"
        on_install "$base/install" yes,ok "$base/wpatch" '/LOG=C:\run.log' >/dev/null 2>&1 || true
        last=$(grep ' replaced ' "$base/install/C/run.log" | tail -1 | sed 's/.* replaced //; s/,.*//; s/.*\\//')
        undos=()
        for _ in $(seq "$reps"); do
            make_old_install "$base/install"
            settle_disk
            W32_FAULT_OPEN="$last.~qp:5:1" on_install "$base/install" yes,abort,ok "$base/wpatch" '/LOG=C:\run.log' \
                >/dev/null 2>&1 || true
            log="$base/install/C/run.log"
            grep -q -- '-> abort' "$log" || { echo "no Abort at $last" >&2; cat "$log" >&2; exit 1; }
            undos+=("$(awk '/-> abort/ {split($1, t, ":"); a = t[1] * 3600 + t[2] * 60 + t[3]}
                /NOT completed/ {split($1, t, ":"); b = t[1] * 3600 + t[2] * 60 + t[3]} END {printf "%.3f\n", b - a}' "$log")")
            rm "$log"
            [ "$(tree_sums "$base/Old")" = "$(tree_sums "$base/install/C/Games/Quor")" ] \
                && [ -z "$(find "$base/install/C/Games/Quor" -name '*.~q*')" ] \
                || { echo "the Abort at $last did not leave the old version" >&2; exit 1; }
        done
        undo_s=$(printf '%s\n' "${undos[@]}" | fastest)
        undo_line=$(printf 'Undoing an Abort at the last file (%s) of the large two-version patch: %.3f s; its apply: %.3f s; undo / apply %.2f (target at most 1).' \
            "$last" "$undo_s" "$replace_s" "$(awk -v u="$undo_s" -v a="$replace_s" 'BEGIN {print u / a}')")
        make_fresh_install "$base/install"
        apply_patch "$base/patch" "$base/install" no "$base/baseline.kb" >/dev/null
        make_fresh_install "$base/install"
        apply_patch "$base/patch" "$base/install" yes,ok "$base/peak.kb" >/dev/null
        baseline=$(tail -1 "$base/baseline.kb")
        peak=$(tail -1 "$base/peak.kb")
        mem_line=$(printf 'Peak resident memory applying the large patch: %d KB; baseline (declined welcome): %d KB; above baseline: %d KB (target under 4096 KB).' \
            "$peak" "$baseline" "$((peak - baseline))")
    fi
done
rm -rf "$work/aside"
echo
echo "Targets: apply / tar xzf at most 0.6 (large) and at most 3 (many). Fastest of $reps."
echo
printf '| Transaction | Files | Replace s | Into empty s | Replace / into empty | Without removals s | Replace / without removals | tar xzf s | tar xzf over old s | Replace / tar xzf | Replace / tar xzf over old |\n'
printf '|---|---|---|---|---|---|---|---|---|---|---|\n'
printf '%s\n' "${transaction_lines[@]}"
echo
echo "Replace: the two-version patch over the old version, every file replaced and its old file kept until the commit, 1 in 21 removed."
echo "Into empty: the plain patch into an empty game folder, nothing to keep. Without removals: the same replace over the old version without the files the new one drops."
echo "Targets: replace / without removals at most 1.15; replace / tar xzf at most 0.6 (large) and 3 (many)."
if [ "${#done_lines[@]}" -gt 0 ]; then
    echo
    printf '| Logged replace | "done" box s | Run s |\n'
    printf '|---|---|---|\n'
    printf '%s\n' "${done_lines[@]}"
    echo
    echo "One replacing run with /LOG (a line per file, each file's size read for it), from its log's first line."
fi
echo "$undo_line"
if [ "${#peak_lines[@]}" -gt 0 ]; then
    echo
    printf '| Peak disk use | Volume | Check figure MB | Measured peak MB | Figure above peak |\n'
    printf '|---|---|---|---|---|\n'
    printf '%s\n' "${peak_lines[@]}"
    echo
    echo "Measured: the most the volume held in use during the replacing run, above the old version installed. Target: within 5%."
fi
echo "Load average after the applies: $(cut -d' ' -f1-3 /proc/loadavg)."
echo "$mem_line"
echo "$check_line"
echo
printf '| Build | Threads | Build s | 1 thread s | tar czf s | Build / tar | 1 thread / build | Build MB/s | Peak KB | Largest file KB | Peak above largest KB |\n'
printf '|---|---|---|---|---|---|---|---|---|---|---|\n'
printf '%s\n' "${build_lines[@]}"
echo
echo "Targets: build / tar at most 1; 1 thread / build at least 1.7 on 2 cores; peak above the largest file under 65536 KB."
echo
printf '| Build | Processor s, all threads | Processor s, 1 thread | Load average after |\n'
printf '|---|---|---|---|\n'
printf '%s\n' "${cpu_lines[@]}"
