#!/usr/bin/env bash
# The whole test suite: every stage under scripts/stages, in name order.
# Installs what is missing (as root), configures, builds and runs each stage,
# then prints each stage's time (wall clock and CPU, with the machine's load
# when it began) and the total.
# Usage: scripts/test.sh [stage-name-filter]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
export QP_ROOT="$(cd "$here/.." && pwd)"
export QP_JOBS="${QP_JOBS:-$(nproc)}"
source "$here/ensure-packages.sh"
ensure_packages "${QP_BUILD_PACKAGES[@]}"
source "$here/compiler-cache.sh"

filter="${1:-}"
table=()
total_start=$SECONDS
print_table() {
    local row
    echo
    printf '%-22s %8s %8s  %s\n' stage "wall s" "CPU s" "load at start"
    for row in "${table[@]}"; do echo "$row"; done
    printf '%-22s %8s\n' total "$((SECONDS - total_start))"
}

# User and system time of this shell's finished children, in cpu (whole
# seconds); read without a subshell, which would see only its own children.
times_file="$(mktemp)"
trap 'print_table; rm -f "$times_file"' EXIT
cpu_now() {
    times >"$times_file"
    cpu=$(awk 'function sec(x) { split(x, p, "m"); return p[1] * 60 + p[2] }
        NR == 2 { printf "%d", sec($1) + sec($2) }' "$times_file")
}

for stage in "$here"/stages/*.sh; do
    name="$(basename "$stage" .sh)"
    [[ -n "$filter" && "$name" != *"$filter"* ]] && continue
    echo "=== stage $name ==="
    load="$(cut -d' ' -f1 /proc/loadavg)"
    start=$SECONDS
    cpu_now
    cpu_before=$cpu
    status=0
    bash "$stage" || status=$?
    wall=$((SECONDS - start))
    cpu_now
    result=passed
    [ "$status" -eq 0 ] || result=FAILED
    table+=("$(printf '%-22s %8d %8d  %-6s %s' "$name" "$wall" "$((cpu - cpu_before))" "$load" "${result/passed/}")")
    echo "=== stage $name $result in $wall s ==="
    [ "$status" -eq 0 ] || exit "$status"
done
echo "all stages passed"
