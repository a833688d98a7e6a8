# Interface targets that carry hexfold's compile and link settings to its own
# targets alone: warnings, hardening, and paths kept out of the binary.

# Errors only where the presets ask (CMAKE_COMPILE_WARNING_AS_ERROR): a newer
# compiler's new warning must not stop a distribution's build.
add_library(hexfold_warnings INTERFACE)
target_compile_options(hexfold_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wconversion -Wsign-conversion -Wshadow)

# _FORTIFY_SOURCE needs an optimised build, and the sanitizer and fuzz builds
# bring instrumentation of their own, so only the optimised configurations of
# the tool's own targets get these. ($<CONFIG> takes one name before CMake 3.19.)
set(optimised "$<OR:$<CONFIG:Release>,$<CONFIG:RelWithDebInfo>,$<CONFIG:MinSizeRel>>")
add_library(hexfold_hardening INTERFACE)
if(HEXFOLD_HARDEN)
    include(CheckCXXCompilerFlag)
    include(CheckPIESupported)
    # CXX alone: checks of an embedding firmware's own languages are its own.
    check_pie_supported(LANGUAGES CXX)
    set(hexfold_harden_flags -U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2 -fstack-protector-strong)
    # -fcf-protection exists on x86 only; stack clash protection not everywhere.
    foreach(flag -fstack-clash-protection -fcf-protection)
        string(MAKE_C_IDENTIFIER "HEXFOLD_CXX_HAS${flag}" have_flag)
        check_cxx_compiler_flag(${flag} ${have_flag})
        if(${have_flag})
            list(APPEND hexfold_harden_flags ${flag})
        endif()
    endforeach()
    target_compile_options(hexfold_hardening INTERFACE "$<${optimised}:${hexfold_harden_flags}>")
    include(CheckLinkerFlag)
    check_linker_flag(CXX "LINKER:-z,relro,-z,now" HEXFOLD_LINKER_HAS_Z_NOW)
    if(HEXFOLD_LINKER_HAS_Z_NOW)
        target_link_options(hexfold_hardening INTERFACE "$<${optimised}:-Wl,-z,relro,-z,now>")
    endif()
endif()
# Keeps the checkout's path out of the binary (and out of its build ID), so
# that two checkouts give the same package. Debug builds keep full paths for
# the debugger.
add_library(hexfold_reproducible INTERFACE)
target_compile_options(hexfold_reproducible INTERFACE
    "$<${optimised}:-ffile-prefix-map=${CMAKE_CURRENT_SOURCE_DIR}/=;-ffile-prefix-map=${CMAKE_CURRENT_BINARY_DIR}/=>")
