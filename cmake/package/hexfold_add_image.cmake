# hexfold_add_image(<name> SOURCE <hex> [OUTPUT <bin>] [EXCLUDE_FROM_ALL]
#                   [WARNINGS_AS_ERRORS] [DEPENDS <file-or-target>...])
#
# Adds the custom target <name>, built by `all` unless EXCLUDE_FROM_ALL is
# given, that converts SOURCE into the image OUTPUT, by default <name>.bin in
# the current binary directory. A relative SOURCE is taken from the current
# source directory, a relative OUTPUT from the current binary directory.
# DEPENDS names what makes SOURCE. The target's HEXFOLD_IMAGE property holds
# OUTPUT's absolute path for later steps.
#
# hexfold-check runs on SOURCE's absolute path first, so that its findings
# stand in the build log at file:line:column, where an IDE opens them.
# Warnings do not fail the build; with WARNINGS_AS_ERRORS they do, and no
# image is made.
#
# The hexfold that runs is the first of: the HEXFOLD_EXECUTABLE cache
# variable, with the hexfold-check beside it; the hexfold::hexfold and
# hexfold::check targets, which in a cross build name the build host's
# tools. The image is converted again when SOURCE or either tool changes.
#
# The same file serves the installed package and an embedded hexfold, so what
# it needs travels by CMAKE_CURRENT_FUNCTION_LIST_DIR and targets, never by
# variables of hexfold's directory.
include_guard(GLOBAL)

set(HEXFOLD_EXECUTABLE "" CACHE FILEPATH "The hexfold that hexfold_add_image runs (empty: hexfold::hexfold)")

function(hexfold_add_image name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "EXCLUDE_FROM_ALL;WARNINGS_AS_ERRORS" "SOURCE;OUTPUT" "DEPENDS")
    if(arg_UNPARSED_ARGUMENTS OR arg_KEYWORDS_MISSING_VALUES OR NOT arg_SOURCE)
        message(FATAL_ERROR "usage: hexfold_add_image(<name> SOURCE <hex> [OUTPUT <bin>] [EXCLUDE_FROM_ALL] "
            "[WARNINGS_AS_ERRORS] [DEPENDS <file-or-target>...])")
    endif()
    if(NOT arg_OUTPUT)
        set(arg_OUTPUT "${name}.bin")
    endif()
    # Lexical, as cmake_path(ABSOLUTE_PATH ... NORMALIZE) would be from 3.20 on:
    # links are not followed.
    get_filename_component(arg_SOURCE "${arg_SOURCE}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    get_filename_component(arg_OUTPUT "${arg_OUTPUT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")

    if(HEXFOLD_EXECUTABLE)
        get_filename_component(hexfold_dir "${HEXFOLD_EXECUTABLE}" DIRECTORY)
        set(hexfold "${HEXFOLD_EXECUTABLE}")
        set(check "${hexfold_dir}/hexfold-check${CMAKE_EXECUTABLE_SUFFIX}")
        set(hexfold_depends "${HEXFOLD_EXECUTABLE}")
        # A hexfold of before hexfold-check converts all the same.
        if(EXISTS "${check}")
            list(APPEND hexfold_depends "${check}")
        endif()
    elseif(TARGET hexfold::hexfold AND TARGET hexfold::check)
        set(hexfold "$<TARGET_FILE:hexfold::hexfold>")
        set(check "$<TARGET_FILE:hexfold::check>")
        set(hexfold_depends hexfold::hexfold hexfold::check)
    else()
        message(FATAL_ERROR "hexfold_add_image: no hexfold::hexfold and hexfold::check targets and no "
            "HEXFOLD_EXECUTABLE")
    endif()

    set(convert "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/hexfold_convert.cmake")
    add_custom_command(OUTPUT "${arg_OUTPUT}"
        COMMAND "${CMAKE_COMMAND}" "-DHEXFOLD=${hexfold}" "-DHEXFOLD_CHECK=${check}" "-DSOURCE=${arg_SOURCE}"
                "-DOUTPUT=${arg_OUTPUT}" "-DWARNINGS_AS_ERRORS=${arg_WARNINGS_AS_ERRORS}" -P "${convert}"
        DEPENDS "${arg_SOURCE}" ${hexfold_depends} ${arg_DEPENDS} "${convert}"
        COMMENT "hexfold: converting ${arg_SOURCE}"
        VERBATIM)
    if(arg_EXCLUDE_FROM_ALL)
        add_custom_target(${name} DEPENDS "${arg_OUTPUT}")
    else()
        add_custom_target(${name} ALL DEPENDS "${arg_OUTPUT}")
    endif()
    set_property(TARGET ${name} PROPERTY HEXFOLD_IMAGE "${arg_OUTPUT}")
endfunction()
