# A firmware copies this file beside its CMakeLists.txt and includes it
# before project(), as microcontroller SDKs have it: it finds the SDK from
# VENDOR_SDK_PATH (cache or environment), names the SDK's toolchain file and
# defines vendor_sdk_init().
if(NOT VENDOR_SDK_PATH AND DEFINED ENV{VENDOR_SDK_PATH})
    set(VENDOR_SDK_PATH "$ENV{VENDOR_SDK_PATH}")
endif()
set(VENDOR_SDK_PATH "${VENDOR_SDK_PATH}" CACHE PATH "The vendor SDK")
if(NOT EXISTS "${VENDOR_SDK_PATH}/vendor_sdk_init.cmake")
    message(FATAL_ERROR "no vendor SDK at VENDOR_SDK_PATH '${VENDOR_SDK_PATH}'")
endif()
include("${VENDOR_SDK_PATH}/vendor_sdk_init.cmake")
