# The core that the commands, the tests and the fuzzers share, the commands
# hexfold and hexfold-check, and what a project that embeds hexfold uses:
# hexfold::hexfold, hexfold::check and hexfold_add_image().
set(HEXFOLD_CORE_SOURCES src/descriptor_io.cpp src/record_line.cpp src/record_reader.cpp src/steps_words.cpp
    src/vector_units.cpp src/conversion.cpp src/target_file.cpp)
list(TRANSFORM HEXFOLD_CORE_SOURCES PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
add_library(hexfold_core STATIC ${HEXFOLD_CORE_SOURCES})
target_include_directories(hexfold_core PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/src)
# On 32-bit systems off_t is 32 bits unless asked otherwise: a source of
# 2 GiB would not open and a target would stop at 2 GiB, short of the header's
# 4 GiB limit. PUBLIC: whatever shares the core's headers needs the same off_t.
target_compile_definitions(hexfold_core PUBLIC _FILE_OFFSET_BITS=64)
target_link_libraries(hexfold_core PRIVATE hexfold_warnings hexfold_hardening hexfold_reproducible)

add_executable(hexfold ${CMAKE_CURRENT_SOURCE_DIR}/src/hexfold.cpp)
target_link_libraries(hexfold PRIVATE hexfold_core hexfold_warnings hexfold_hardening hexfold_reproducible
    hexfold_static)
set_target_properties(hexfold_core hexfold PROPERTIES POSITION_INDEPENDENT_CODE ON)

# hexfold-check reads sources with hexfold's reader, digits and units.
set(HEXFOLD_CHECK_SOURCES src/source_check.cpp src/check_report.cpp)
list(TRANSFORM HEXFOLD_CHECK_SOURCES PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
add_library(hexfold_check_core STATIC ${HEXFOLD_CHECK_SOURCES})
target_link_libraries(hexfold_check_core PUBLIC hexfold_core PRIVATE hexfold_warnings hexfold_hardening
    hexfold_reproducible)
target_compile_definitions(hexfold_check_core PRIVATE HEXFOLD_VERSION="${hexfold_version}")
add_executable(hexfold-check ${CMAKE_CURRENT_SOURCE_DIR}/src/hexfold_check.cpp)
target_link_libraries(hexfold-check PRIVATE hexfold_check_core hexfold_warnings hexfold_hardening
    hexfold_reproducible hexfold_static)
target_compile_definitions(hexfold-check PRIVATE HEXFOLD_VERSION="${hexfold_version}")
set_target_properties(hexfold_check_core hexfold-check PROPERTIES POSITION_INDEPENDENT_CODE ON)

add_executable(hexfold::hexfold ALIAS hexfold)
add_executable(hexfold::check ALIAS hexfold-check)
include(${CMAKE_CURRENT_SOURCE_DIR}/cmake/package/hexfold_add_image.cmake)
