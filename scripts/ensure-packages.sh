# Sourced by the scripts: ensure_packages PKG... installs the Debian packages
# that are missing (as root, apt-get update first, once per run).
ensure_packages() {
    local missing=()
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "missing packages: ${missing[*]} (run as root to install them)" >&2
        return 1
    fi
    if [ -z "${QP_APT_UPDATED:-}" ]; then
        apt-get update -qq
        export QP_APT_UPDATED=1
    fi
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# Packages every build needs.
QP_BUILD_PACKAGES=(cmake ninja-build g++ clang libgtest-dev libgmock-dev liblnk-utils)
