#!/usr/bin/env bash
# The whole test suite: every stage under scripts/stages, in name order.
# Installs what is missing (as root), configures, builds and runs each stage.
# Usage: scripts/test.sh [stage-name-filter]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
export QP_ROOT="$(cd "$here/.." && pwd)"
export QP_JOBS="${QP_JOBS:-$(nproc)}"
source "$here/ensure-packages.sh"
ensure_packages "${QP_BUILD_PACKAGES[@]}"

filter="${1:-}"
for stage in "$here"/stages/*.sh; do
    name="$(basename "$stage" .sh)"
    [[ -n "$filter" && "$name" != *"$filter"* ]] && continue
    echo "=== stage $name ==="
    start=$SECONDS
    bash "$stage"
    echo "=== stage $name passed in $((SECONDS - start)) s ==="
done
echo "all stages passed"
