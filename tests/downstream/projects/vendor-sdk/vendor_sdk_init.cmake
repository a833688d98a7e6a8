# The SDK's toolchain unless the firmware names another, and its init, which
# a firmware calls after project().
if(NOT CMAKE_TOOLCHAIN_FILE)
    set(CMAKE_TOOLCHAIN_FILE "${CMAKE_CURRENT_LIST_DIR}/cmake/arm-none-eabi.cmake")
endif()
set(VENDOR_SDK_DIR "${CMAKE_CURRENT_LIST_DIR}")

# Options for every target of the firmware, set in the caller's directory as
# SDKs do, the SDK's library, and its host tool, built for the build host at
# every build.
macro(vendor_sdk_init)
    add_compile_options(-Os -ffunction-sections -fdata-sections -Wall)
    add_compile_definitions(VENDOR_BOARD_LEDS=4)
    add_link_options(--specs=nosys.specs -Wl,--gc-sections)
    add_subdirectory("${VENDOR_SDK_DIR}/hal" vendor_hal)
    include(ExternalProject)
    ExternalProject_Add(vendor_stamp_tool
        SOURCE_DIR "${VENDOR_SDK_DIR}/tools/stamp"
        BINARY_DIR "${CMAKE_BINARY_DIR}/vendor_stamp_tool"
        CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release "-DCMAKE_MAKE_PROGRAM=${CMAKE_MAKE_PROGRAM}"
        BUILD_ALWAYS ON
        INSTALL_COMMAND ""
        BUILD_BYPRODUCTS "${CMAKE_BINARY_DIR}/vendor_stamp_tool/vendor-stamp")
endmacro()

# <target>.bin, the program's bytes, and <target>.img, the same stamped with
# their sum by the SDK's host tool, after every link of <target>.
function(vendor_add_extra_outputs target)
    set(stamp "${CMAKE_BINARY_DIR}/vendor_stamp_tool/vendor-stamp")
    add_dependencies(${target} vendor_stamp_tool)
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND "${CMAKE_OBJCOPY}" -O binary "$<TARGET_FILE:${target}>" ${target}.bin
        COMMAND "${stamp}" ${target}.bin ${target}.img
        BYPRODUCTS ${target}.bin ${target}.img
        VERBATIM)
endfunction()
