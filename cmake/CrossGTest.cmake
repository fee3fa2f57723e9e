# GoogleTest for a cross-build (MinGW-w64, or the 32-bit Linux build),
# compiled from Debian's sources (package googletest) with the target's
# compiler, under the usual target names.
# Native builds use the installed package through find_package instead.
set(QP_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for cross-builds")
if(NOT EXISTS ${QP_GTEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${QP_GTEST_SOURCE_DIR} (install googletest)")
endif()
# GoogleTest only: nothing here uses gmock.
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
# No pthreads on Windows targets; gtest then uses its own Windows primitives.
if(WIN32)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
endif()
# GoogleTest is third-party code: our warning flags do not apply to it.
get_directory_property(qp_saved_options COMPILE_OPTIONS)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "")
add_subdirectory(${QP_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "${qp_saved_options}")
foreach(target gtest gtest_main)
  if(TARGET ${target} AND NOT TARGET GTest::${target})
    add_library(GTest::${target} ALIAS ${target})
  endif()
endforeach()
