# Sourced by the benchmarks: a fresh sample installation (drive C: with the
# game folder, the registry hive with the game's key in the 32-bit view, where
# its installer leaves it) and the host environment a patch runs in on it.
make_install() {
    local dir="$1"
    rm -rf "$dir"
    mkdir -p "$dir/C/Games/Quor" "$dir/C/Programs" "$dir/mutex"
    printf 'game' >"$dir/C/Games/Quor/Quor.exe"
    printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Orvandel\\Quor]\r\n"Path"="C:\\\\Games\\\\Quor\\\\"\r\n"GameVersion"=dword:00010001\r\n\r\n' \
        >"$dir/registry.reg"
}

# on_install <dir> <answers> <command...>: runs the command (a program or a
# shell function) on the installation, the boxes answered as given.
on_install() {
    local dir="$1" answers="$2"
    shift 2
    W32_DRIVE_C="$dir/C" W32_REGISTRY_FILE="$dir/registry.reg" W32_ANSWERS="$answers" \
        W32_TRANSCRIPT="$dir/transcript.jsonl" W32_MUTEX_DIR="$dir/mutex" W32_PROGRAMS_DIR='C:\Programs' "$@"
}

# Builds the release qptool and patcher the benchmarks run; sets build, tool
# and stub.
build_bench_programs() {
    build="$root/build/bench-release"
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQP_TESTS=OFF >/dev/null
    cmake --build "$build" -j "${QP_JOBS:-2}" --target qptool quorpatch >/dev/null
    tool="$build/tools/qptool"
    stub="$build/src/app/quorpatch"
    [ -x "$tool" ] && [ -x "$stub" ] || { echo "qptool or quorpatch missing in $build" >&2; exit 1; }
    [ -x /usr/bin/time ] || { echo "/usr/bin/time missing (Debian package time)" >&2; exit 1; }
}
