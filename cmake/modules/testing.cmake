# What every test directory shares: GoogleTest, the timeout, the coverage
# fixture, and two helpers that give each test its label.

# Seconds before a test, or one hexfold run in it, counts as hung. Sanitizer
# builds run several times slower and set their own.
set(HEXFOLD_TEST_TIMEOUT 60 CACHE STRING "Seconds before a test counts as hung")
# A gcc --coverage build: the counters are cleared before the first test and
# src/ is reported on after the last (tests/coverage).
option(HEXFOLD_COVERAGE "Report line and branch coverage of src/ after the tests" OFF)
set(hexfold_coverage_fixture "")
if(HEXFOLD_COVERAGE)
    set(hexfold_coverage_fixture FIXTURES_REQUIRED hexfold_coverage)
endif()

# Debian's libgtest-dev holds libraries for the build host only: a cross
# build compiles GoogleTest for its target, inside the build, from the
# sources that Debian's googletest ships.
set(HEXFOLD_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest's sources, built for the target in a cross build")
if(CMAKE_CROSSCOMPILING AND EXISTS "${HEXFOLD_GTEST_SOURCE_DIR}/CMakeLists.txt")
    set(BUILD_GMOCK OFF)
    set(INSTALL_GTEST OFF)
    add_subdirectory("${HEXFOLD_GTEST_SOURCE_DIR}" "${PROJECT_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
    # Its own warnings are not hexfold's to fix.
    set_target_properties(gtest gtest_main PROPERTIES COMPILE_WARNING_AS_ERROR OFF)
    set(GTest_FOUND TRUE)
else()
    find_package(GTest)
endif()
if(GTest_FOUND)
    include(GoogleTest)
else()
    message(STATUS "GoogleTest not found (Debian: libgtest-dev): the C++ test programs are not built")
endif()

# A foreign program cannot be exec'd without binfmt_misc: in a cross build
# the tests that start a built program exec the emulator, a program of the
# build host, with it. HEXFOLD_EMULATOR holds its words as C strings.
set(hexfold_emulator_definition "")
if(CMAKE_CROSSCOMPILING)
    list(JOIN CMAKE_CROSSCOMPILING_EMULATOR "\",\"" emulator)
    set(hexfold_emulator_definition "HEXFOLD_EMULATOR=\"${emulator}\"")
endif()

# Gives each named test its label, the shared timeout and the coverage
# fixture; a test that needs another timeout sets it afterwards.
#
#     hexfold_label_tests(<label> <test>...)
function(hexfold_label_tests label)
    set_tests_properties(${ARGN} PROPERTIES LABELS ${label} TIMEOUT ${HEXFOLD_TEST_TIMEOUT}
        ${hexfold_coverage_fixture})
endfunction()

# One CTest test for each case of a GoogleTest program that the filter
# selects, with its label. The cases are listed as the tests start, not at
# build time, which would run a cross-built program on the build host.
#
#     hexfold_discover_tests(<target> <label> <gtest filter> [<property> <value>]...)
function(hexfold_discover_tests target label filter)
    gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 TEST_FILTER "${filter}"
        PROPERTIES LABELS ${label} TIMEOUT ${HEXFOLD_TEST_TIMEOUT} ${hexfold_coverage_fixture} ${ARGN})
endfunction()
