# cmake -DHEXFOLD=<hexfold> -DSOURCE=<hex> -DOUTPUT=<bin> -P hexfold_convert.cmake
#
# hexfold truncates its target before it reads, and Ninja keeps the output of
# a command that failed, so converting straight into OUTPUT could leave a
# broken image that the next build takes as up to date. The image is written
# under a temporary name beside OUTPUT and renamed over it only on success; on
# failure both are removed, and hexfold's own message stays in the build log.
cmake_minimum_required(VERSION 3.18...3.25)

get_filename_component(output_dir "${OUTPUT}" DIRECTORY)
file(MAKE_DIRECTORY "${output_dir}")
set(partial "${OUTPUT}.part")
execute_process(COMMAND "${HEXFOLD}" "${SOURCE}" "${partial}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    set(failure "hexfold ended with status ${status}")
else()
    # file(RENAME ... RESULT) would need CMake 3.21; cmake -E rename fails
    # with a status and its own message.
    execute_process(COMMAND "${CMAKE_COMMAND}" -E rename "${partial}" "${OUTPUT}"
        RESULT_VARIABLE status ERROR_VARIABLE rename_error ERROR_STRIP_TRAILING_WHITESPACE)
    set(failure "renaming ${partial} failed: ${rename_error}")
endif()
if(NOT status EQUAL 0)
    file(REMOVE "${partial}" "${OUTPUT}")
    message(FATAL_ERROR "no image from ${SOURCE}: ${failure}")
endif()
