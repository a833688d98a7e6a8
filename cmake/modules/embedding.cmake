# Included before project(): whether hexfold is the top-level project (what
# PROJECT_IS_TOP_LEVEL says from CMake 3.21 on), and the languages it enables.
if(CMAKE_SOURCE_DIR STREQUAL CMAKE_CURRENT_SOURCE_DIR)
    set(HEXFOLD_IS_TOP_LEVEL ON)
else()
    set(HEXFOLD_IS_TOP_LEVEL OFF)
endif()
# Embedded with add_subdirectory or FetchContent, hexfold adds its tool and
# hexfold_add_image() and nothing else: no tests, dashboard targets, install
# rules or packaging, and no settings outside its own directory.
option(HEXFOLD_INSTALL "Install rules and packaging for hexfold" ${HEXFOLD_IS_TOP_LEVEL})
# Embedded in a cross build, hexfold is a tool of the build host: no language
# is enabled for the device on its behalf and nothing of it is compiled for
# the device. The language is chosen here, not enabled later: a project()
# without languages reads the platform files before the toolchain is known,
# which would change what a top-level build caches.
if(CMAKE_CROSSCOMPILING AND NOT HEXFOLD_IS_TOP_LEVEL)
    set(hexfold_languages NONE)
else()
    set(hexfold_languages CXX)
endif()
