# HEXFOLD_STATIC links the tool as a static PIE: it then runs on any Linux of
# its architecture, whatever C library the host has or lacks (the release
# archives and RPMs), and starts sooner, with nothing to load or relocate but
# itself. The Debian packages stay dynamic, as Debian wants them.
add_library(hexfold_static INTERFACE)
if(HEXFOLD_STATIC)
    include(CheckLinkerFlag)
    check_linker_flag(CXX -static-pie HEXFOLD_LINKER_HAS_STATIC_PIE)
    if(NOT HEXFOLD_LINKER_HAS_STATIC_PIE)
        message(FATAL_ERROR "HEXFOLD_STATIC: ${CMAKE_CXX_COMPILER} cannot link -static-pie "
            "(it needs the C library's static archive: Debian's libc6-dev)")
    endif()
    # After the -pie that POSITION_INDEPENDENT_CODE gives, which would undo it
    # as link options are placed before it.
    target_link_libraries(hexfold_static INTERFACE -static-pie)
endif()
