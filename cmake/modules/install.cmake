# Install rules: the tools, their man pages and changelog, and the CMake package.
include(GNUInstallDirs)
install(TARGETS hexfold hexfold-check RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The man pages carry hexfold's version and the date of the changelog's
# newest entry, and are installed compressed as Debian wants them; -n keeps
# the archive free of a timestamp.
# Read at configure time, so a changed changelog configures again.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS packaging/changelog)
file(STRINGS packaging/changelog changelog_trailer REGEX "^ -- " LIMIT_COUNT 1)
if(NOT changelog_trailer MATCHES ", ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
    message(FATAL_ERROR "packaging/changelog's newest entry ends without a date: ${changelog_trailer}")
endif()
set(day ${CMAKE_MATCH_1})
set(year ${CMAKE_MATCH_3})
set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND months ${CMAKE_MATCH_2} month)
math(EXPR month "101 + ${month}")
string(SUBSTRING ${month} 1 2 month)
set(hexfold_date ${year}-${month}-${day})
foreach(page hexfold hexfold-check)
    configure_file(docs/${page}.1.in ${page}.1 @ONLY)
    add_custom_command(OUTPUT ${page}.1.gz
        COMMAND gzip -9nc ${CMAKE_CURRENT_BINARY_DIR}/${page}.1 > ${page}.1.gz
        DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/${page}.1
        VERBATIM)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
add_custom_target(manpage ALL DEPENDS hexfold.1.gz hexfold-check.1.gz)

# The package's changelog is kept in Debian's format; its newest entry must
# name the version that is being built.
file(STRINGS packaging/changelog changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^hexfold \\(${hexfold_version}\\) ")
    message(FATAL_ERROR "packaging/changelog has no entry for ${hexfold_version} at its top")
endif()
add_custom_command(OUTPUT changelog.gz
    COMMAND gzip -9nc ${CMAKE_CURRENT_SOURCE_DIR}/packaging/changelog > changelog.gz
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/packaging/changelog
    VERBATIM)
add_custom_target(changelog ALL DEPENDS changelog.gz)
install(FILES packaging/copyright ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The package's CMake files go under a literal lib/, not a multiarch
# directory, where a cross build looking for a host tool would not search.
# The version file is arch-independent so that a 32-bit device build
# accepts a 64-bit host's hexfold, and takes hexfold's own version: embedded
# with HEXFOLD_INSTALL, PROJECT_VERSION is the firmware's.
include(CMakePackageConfigHelpers)
set(hexfold_cmake_dir lib/cmake/hexfold)
configure_package_config_file(cmake/package/hexfoldConfig.cmake.in hexfoldConfig.cmake
    INSTALL_DESTINATION ${hexfold_cmake_dir}
    PATH_VARS CMAKE_INSTALL_BINDIR)
write_basic_package_version_file(hexfoldConfigVersion.cmake VERSION ${hexfold_version}
    COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/hexfoldConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/hexfoldConfigVersion.cmake
    cmake/package/hexfold_add_image.cmake cmake/package/hexfold_convert.cmake
    DESTINATION ${hexfold_cmake_dir})
