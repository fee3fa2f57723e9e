# Sourced by the stages: the CI builds' optimisation and debug level. The
# default build type's -O2 (g++ warns from its optimiser's findings too), with
# line tables for debug information: backtraces still name function, file and
# line, while full debug information costs about a third more compile time.
QP_CI_FLAGS=(-DCMAKE_BUILD_TYPE=RelWithDebInfo
    "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG"
    "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG")
# The Linux builds compile their library sources in batches too (the tests
# always do): about half the compile time. The Windows builds compile each
# file alone, as the shipped executables are made.
QP_BATCH_FLAGS=(-DCMAKE_UNITY_BUILD=ON)
