# The Debian package, made by CPack from the install rules, and the RPM
# (cpack -G RPM, of a HEXFOLD_STATIC build for the release).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME hexfold)
# CPack would take the top-level project's version, a firmware's when hexfold
# is embedded with HEXFOLD_INSTALL.
set(CPACK_PACKAGE_VERSION ${hexfold_version})
set(CPACK_PACKAGE_CONTACT "hexfold maintainers <maintainers@users.noreply.c-seed-3ff0bb9d.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${hexfold_description}")
set(CPACK_PACKAGE_DESCRIPTION "\
hexfold reads a Zintar firmware file, text in which every line is a colon
followed by pairs of hexadecimal digits, and writes the bytes those pairs
stand for to a binary image behind a four-byte little-endian length header.
It is meant for firmware build scripts and for people flashing devices: one
file per run, no options, and a distinct exit status and one-line message
for each kind of failure. hexfold-check reports, at file:line:column, every
line that hexfold would turn into a wrong image, for editors and CI.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# CPack would name the build machine's architecture and look up the build
# machine's libraries. A cross build names its target's Debian architecture
# and finds the C library in the target's directory, whose cross package
# ships the shlibs entries (the package name and version of the target's C
# library).
if(CMAKE_CROSSCOMPILING AND CMAKE_LIBRARY_ARCHITECTURE)
    find_program(HEXFOLD_DPKG_ARCHITECTURE dpkg-architecture)
    if(HEXFOLD_DPKG_ARCHITECTURE)
        execute_process(COMMAND ${HEXFOLD_DPKG_ARCHITECTURE} -t ${CMAKE_LIBRARY_ARCHITECTURE} -qDEB_HOST_ARCH
            OUTPUT_VARIABLE hexfold_deb_arch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
        set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${hexfold_deb_arch})
    endif()
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS /usr/${CMAKE_LIBRARY_ARCHITECTURE}/lib)
endif()

# The RPM holds the same files under /usr as the Debian package. Built from a
# static tool it needs nothing of the system it is installed on, RHEL/Rocky 8
# included. rpmbuild is told to take the files as they are (CPack has
# stripped them, and a host's strip cannot read a cross build's), to add no
# build-id links, and to take every time from SOURCE_DATE_EPOCH, so that the
# same commit gives the same RPM.
set(CPACK_RPM_PACKAGE_LICENSE MIT)
set(CPACK_RPM_PACKAGE_GROUP "Development/Tools")
set(CPACK_RPM_PACKAGE_VENDOR "hexfold maintainers")
set(CPACK_RPM_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_RPM_FILE_NAME RPM-DEFAULT)
set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION /usr/lib/cmake /usr/share/man /usr/share/man/man1)
# rpmbuild would make the static tool require the dynamic loader's
# rtld(GNU_HASH), which it never calls.
if(HEXFOLD_STATIC)
    set(CPACK_RPM_PACKAGE_AUTOREQ OFF)
endif()
if(CMAKE_CROSSCOMPILING)
    set(CPACK_RPM_PACKAGE_ARCHITECTURE ${CMAKE_SYSTEM_PROCESSOR})
endif()
string(CONCAT CPACK_RPM_SPEC_MORE_DEFINE
    "%define __os_install_post %{nil}\n"
    "%define debug_package %{nil}\n"
    "%define _build_id_links none\n"
    "%define _buildhost reproducible\n"
    "%define use_source_date_epoch_as_buildtime 1\n"
    "%define clamp_mtime_to_source_date_epoch 1\n"
    "%define _binary_payload w9.gzdio\n")
include(CPack)
