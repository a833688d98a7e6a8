# In a cross build the tool above runs on the device, not on the build host:
# hexfold_add_image() then runs one built for the host from the same sources,
# unless HEXFOLD_EXECUTABLE names one. It is built only when an image needs it.
if(CMAKE_CROSSCOMPILING AND NOT HEXFOLD_EXECUTABLE)
    include(ExternalProject)
    set(hexfold_host_dir "${PROJECT_BINARY_DIR}/host")
    # The toolchain file is not passed on, but a CMAKE_TOOLCHAIN_FILE in the
    # environment would be read all the same.
    ExternalProject_Add(hexfold_host
        SOURCE_DIR "${PROJECT_SOURCE_DIR}"
        BINARY_DIR "${hexfold_host_dir}"
        CMAKE_COMMAND "${CMAKE_COMMAND}" -E env --unset=CMAKE_TOOLCHAIN_FILE "${CMAKE_COMMAND}"
        CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DHEXFOLD_INSTALL=OFF
        BUILD_COMMAND "${CMAKE_COMMAND}" --build "${hexfold_host_dir}" --target hexfold
        BUILD_ALWAYS TRUE
        BUILD_BYPRODUCTS "${hexfold_host_dir}/hexfold"
        INSTALL_COMMAND ""
        EXCLUDE_FROM_ALL TRUE)
    set_property(GLOBAL PROPERTY HEXFOLD_HOST_EXECUTABLE "${hexfold_host_dir}/hexfold")
    set_property(GLOBAL PROPERTY HEXFOLD_HOST_DEPENDS hexfold_host "${hexfold_host_dir}/hexfold")
endif()
