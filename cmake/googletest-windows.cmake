# GoogleTest for the Windows build: made from Debian's sources (googletest package) with the
# cross compiler, offering the same targets as find_package(GTest) does natively.
set(googletestSource /usr/src/googletest)
if(NOT EXISTS ${googletestSource}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest sources not found in ${googletestSource} (install googletest)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${googletestSource} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
foreach(library gtest gtest_main gmock gmock_main)
    # Foreign code: its warnings are not ours to fix.
    target_compile_options(${library} PRIVATE -w)
endforeach()
# GoogleTest's own CMake names the GTest::gtest ... targets; the older names too:
add_library(GTest::GTest ALIAS gtest)
add_library(GTest::Main ALIAS gtest_main)
