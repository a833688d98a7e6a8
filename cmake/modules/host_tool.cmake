# Embedded in a cross build, hexfold is a tool of the build host and nothing
# else: hexfold::hexfold names a hexfold built for the host, imported, so
# that COMMAND and DEPENDS treat it as they treat the installed package's,
# and nothing of hexfold is compiled for the device.
#
# That hexfold is a build of its own, made while the parent configures: a
# tool built at build time would be a custom command's output in hexfold's
# directory, which Unix Makefiles cannot depend on from another directory.
# hexfold's files are the parent's configure dependencies, so a change to
# them reconfigures, which rebuilds the tool, and the images that depend on
# it convert again; with nothing changed a build does nothing, and a
# reconfigure does not run the host build at all.
#
# The device must not reach it: the environment's compilers, flags and
# toolchain file are unset, and nothing of the parent's compiler or flags is
# passed on. It uses the build host's default C++ compiler, or
# HEXFOLD_HOST_CXX_COMPILER, and the parent's generator.
set(HEXFOLD_HOST_CXX_COMPILER "" CACHE STRING
    "C++ compiler of the build host's hexfold in a cross build (empty: the host's default)")

add_executable(hexfold::hexfold IMPORTED GLOBAL)
add_executable(hexfold::check IMPORTED GLOBAL)
if(HEXFOLD_EXECUTABLE)
    # Named by the user: nothing to build; hexfold-check is the one beside it.
    get_filename_component(hexfold_named_dir "${HEXFOLD_EXECUTABLE}" DIRECTORY)
    set_target_properties(hexfold::hexfold PROPERTIES IMPORTED_LOCATION "${HEXFOLD_EXECUTABLE}")
    set_target_properties(hexfold::check PROPERTIES
        IMPORTED_LOCATION "${hexfold_named_dir}/hexfold-check${CMAKE_EXECUTABLE_SUFFIX}")
    return()
endif()

set(hexfold_host_dir "${CMAKE_CURRENT_BINARY_DIR}/host")
set(hexfold_host_log "${CMAKE_CURRENT_BINARY_DIR}/host.log")
# A build directory keeps its first compiler: another one needs a new one.
set(hexfold_host_stamp "${CMAKE_CURRENT_BINARY_DIR}/host-compiler.txt")
if(EXISTS "${hexfold_host_stamp}")
    file(READ "${hexfold_host_stamp}" hexfold_host_previous)
    if(NOT hexfold_host_previous STREQUAL HEXFOLD_HOST_CXX_COMPILER)
        file(REMOVE_RECURSE "${hexfold_host_dir}")
    endif()
endif()
file(WRITE "${hexfold_host_stamp}" "${HEXFOLD_HOST_CXX_COMPILER}")

set(hexfold_host_env "${CMAKE_COMMAND}" -E env --unset=CC --unset=CXX --unset=CFLAGS --unset=CXXFLAGS
    --unset=CPPFLAGS --unset=LDFLAGS --unset=CMAKE_TOOLCHAIN_FILE
    # A reconfigure inside make must not hand make's job server on.
    --unset=MAKEFLAGS --unset=MFLAGS --unset=MAKELEVEL)
set(hexfold_host_args -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DHEXFOLD_INSTALL=OFF)
if(HEXFOLD_HOST_CXX_COMPILER)
    list(APPEND hexfold_host_args "-DCMAKE_CXX_COMPILER=${HEXFOLD_HOST_CXX_COMPILER}")
endif()
if(CMAKE_MAKE_PROGRAM)
    list(APPEND hexfold_host_args "-DCMAKE_MAKE_PROGRAM=${CMAKE_MAKE_PROGRAM}")
endif()
set(hexfold_host_build_args --target hexfold hexfold-check)
# As many jobs as the user asked for: CMAKE_BUILD_PARALLEL_LEVEL from the
# cache here, from the environment by cmake --build itself, and otherwise the
# generator's default.
if(CMAKE_BUILD_PARALLEL_LEVEL)
    list(APPEND hexfold_host_build_args --parallel ${CMAKE_BUILD_PARALLEL_LEVEL})
endif()
set(hexfold_host_executable "${hexfold_host_dir}/hexfold")
set(hexfold_host_check "${hexfold_host_dir}/hexfold-check")
get_property(hexfold_host_multi_config GLOBAL PROPERTY GENERATOR_IS_MULTI_CONFIG)
if(hexfold_host_multi_config)
    list(APPEND hexfold_host_args -DCMAKE_CONFIGURATION_TYPES=Release)
    list(APPEND hexfold_host_build_args --config Release)
    set(hexfold_host_executable "${hexfold_host_dir}/Release/hexfold")
    set(hexfold_host_check "${hexfold_host_dir}/Release/hexfold-check")
endif()

file(GLOB hexfold_host_inputs "${CMAKE_CURRENT_SOURCE_DIR}/CMakeLists.txt" "${CMAKE_CURRENT_SOURCE_DIR}/cmake/package/*.cmake"
    "${CMAKE_CURRENT_SOURCE_DIR}/cmake/modules/*.cmake" "${CMAKE_CURRENT_SOURCE_DIR}/src/*")
# The tools themselves too: if one goes, configuring again brings it back.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${hexfold_host_inputs} "${hexfold_host_executable}"
    "${hexfold_host_check}")
set_target_properties(hexfold::hexfold PROPERTIES IMPORTED_LOCATION "${hexfold_host_executable}")
set_target_properties(hexfold::check PROPERTIES IMPORTED_LOCATION "${hexfold_host_check}")

# The last good build's stamp holds what it was made with, and its time is
# when that build began; it stands while the tools are there and no input is
# newer (IS_NEWER_THAN is true on equal times too, so a change in the same
# instant builds again).
set(hexfold_host_done "${CMAKE_CURRENT_BINARY_DIR}/host-built.txt")
string(REPLACE ";" " " hexfold_host_made_with "${CMAKE_GENERATOR} ${hexfold_host_args}")
set(hexfold_host_current OFF)
if(EXISTS "${hexfold_host_executable}" AND EXISTS "${hexfold_host_check}" AND EXISTS "${hexfold_host_done}")
    file(READ "${hexfold_host_done}" hexfold_host_previous)
    if(hexfold_host_previous STREQUAL hexfold_host_made_with)
        set(hexfold_host_current ON)
        foreach(input IN LISTS hexfold_host_inputs)
            if("${input}" IS_NEWER_THAN "${hexfold_host_done}")
                set(hexfold_host_current OFF)
                break()
            endif()
        endforeach()
    endif()
endif()
if(hexfold_host_current)
    return()
endif()

message(STATUS "hexfold: building the build host's hexfold in ${hexfold_host_dir}")
file(REMOVE "${hexfold_host_log}" "${hexfold_host_done}")
file(WRITE "${hexfold_host_done}.new" "${hexfold_host_made_with}")
execute_process(
    COMMAND ${hexfold_host_env} "${CMAKE_COMMAND}" -S "${CMAKE_CURRENT_SOURCE_DIR}" -B "${hexfold_host_dir}"
            -G "${CMAKE_GENERATOR}" ${hexfold_host_args}
    OUTPUT_FILE "${hexfold_host_log}" ERROR_FILE "${hexfold_host_log}"
    RESULT_VARIABLE hexfold_host_status)
if(hexfold_host_status EQUAL 0)
    execute_process(
        COMMAND ${hexfold_host_env} "${CMAKE_COMMAND}" --build "${hexfold_host_dir}" ${hexfold_host_build_args}
        OUTPUT_FILE "${hexfold_host_log}.build" ERROR_FILE "${hexfold_host_log}.build"
        RESULT_VARIABLE hexfold_host_status)
    file(READ "${hexfold_host_log}.build" hexfold_host_build_log)
    file(APPEND "${hexfold_host_log}" "${hexfold_host_build_log}")
    file(REMOVE "${hexfold_host_log}.build")
endif()
if(NOT hexfold_host_status EQUAL 0)
    set(hexfold_host_compiler "${HEXFOLD_HOST_CXX_COMPILER}")
    if(NOT hexfold_host_compiler AND EXISTS "${hexfold_host_dir}/CMakeCache.txt")
        file(STRINGS "${hexfold_host_dir}/CMakeCache.txt" hexfold_host_compiler
            REGEX "^CMAKE_CXX_COMPILER:[A-Z]+=" LIMIT_COUNT 1)
        string(REGEX REPLACE "^[^=]*=" "" hexfold_host_compiler "${hexfold_host_compiler}")
    endif()
    if(NOT hexfold_host_compiler)
        set(hexfold_host_compiler "the build host's default C++ compiler")
    endif()
    # A line of its own, unwrapped, before CMake's error.
    message(NOTICE "hexfold: the build host's hexfold did not build with ${hexfold_host_compiler}; "
        "see ${hexfold_host_log}")
    message(FATAL_ERROR "hexfold: no hexfold for the build host")
endif()
file(RENAME "${hexfold_host_done}.new" "${hexfold_host_done}")
