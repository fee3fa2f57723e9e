# Sourced by test.sh: every stage's compilers go through ccache when it is
# installed, with the cache outside the clone (repeated runs on one machine
# rebuild little; a cold cache costs only the cache's own bookkeeping).
# CCACHE_DIR chooses the cache; QP_CCACHE=0 leaves it out.
if [ "${QP_CCACHE:-1}" != 0 ] && command -v ccache >/dev/null; then
    export CCACHE_DIR="${CCACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/quorpatch-ccache}"
    export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$QP_ROOT}"
    # CMake takes these as the default launchers of a new build folder.
    export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
fi
