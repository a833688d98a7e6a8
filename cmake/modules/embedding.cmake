# Included before project(): whether hexfold is the top-level project (what
# PROJECT_IS_TOP_LEVEL says from CMake 3.21 on).
if(CMAKE_SOURCE_DIR STREQUAL CMAKE_CURRENT_SOURCE_DIR)
    set(HEXFOLD_IS_TOP_LEVEL ON)
else()
    set(HEXFOLD_IS_TOP_LEVEL OFF)
endif()
# Embedded with add_subdirectory or FetchContent, hexfold adds its tool and
# hexfold_add_image() and nothing else: no tests, dashboard targets, install
# rules or packaging, and no settings outside its own directory.
option(HEXFOLD_INSTALL "Install rules and packaging for hexfold" ${HEXFOLD_IS_TOP_LEVEL})
# Embedded, hexfold calls no project(): its VERSION would put
# CMAKE_PROJECT_VERSION and its parts into the firmware's cache whenever the
# firmware's own project() names no version, and project() caches
# hexfold_SOURCE_DIR, hexfold_BINARY_DIR and hexfold_IS_TOP_LEVEL. Its files
# name their places by CMAKE_CURRENT_SOURCE_DIR and CMAKE_CURRENT_BINARY_DIR,
# and its version by hexfold_version. In a cross build hexfold is a tool of
# the build host: no language is enabled for the device on its behalf and
# nothing of it is compiled for the device.
