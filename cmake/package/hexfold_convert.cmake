# cmake -DHEXFOLD=<hexfold> -DHEXFOLD_CHECK=<hexfold-check> -DSOURCE=<hex> -DOUTPUT=<bin>
#       [-DWARNINGS_AS_ERRORS=TRUE] -P hexfold_convert.cmake
#
# hexfold-check runs first, on SOURCE as given (an absolute path), and its
# findings stand in the build log at file:line:column. They fail the
# conversion only with WARNINGS_AS_ERRORS (its --werror); otherwise hexfold
# decides, and a failed conversion's log holds hexfold-check's line and
# column of the fault beside hexfold's own message.
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
set(check_args "${SOURCE}")
if(WARNINGS_AS_ERRORS)
    set(check_args --werror "${SOURCE}")
endif()
execute_process(COMMAND "${HEXFOLD_CHECK}" ${check_args} RESULT_VARIABLE check_status)
if(WARNINGS_AS_ERRORS AND NOT check_status EQUAL 0)
    set(status "${check_status}")
    set(failure "hexfold-check ended with status ${check_status}, and WARNINGS_AS_ERRORS makes its warnings errors")
else()
    execute_process(COMMAND "${HEXFOLD}" "${SOURCE}" "${partial}" RESULT_VARIABLE status)
    set(failure "hexfold ended with status ${status}; hexfold-check's findings above give the line and column")
endif()
if(status EQUAL 0)
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
