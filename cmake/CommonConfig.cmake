# Settings shared by every target of the project.
set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)
if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
    set(CMAKE_BUILD_TYPE Release CACHE STRING "" FORCE)
endif()

find_program(CCACHE_PROGRAM ccache)
if(CCACHE_PROGRAM)
    set(CMAKE_CXX_COMPILER_LAUNCHER ${CCACHE_PROGRAM})
    set(CMAKE_C_COMPILER_LAUNCHER ${CCACHE_PROGRAM})
endif()

add_library(zyr_common INTERFACE)
target_compile_features(zyr_common INTERFACE cxx_std_20)
target_compile_options(zyr_common INTERFACE -Wall -Wextra -Wpedantic -Wno-missing-field-initializers)
target_compile_definitions(zyr_common INTERFACE
    QT_NO_CAST_FROM_ASCII QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    ZYR_VERSION_MAJOR=${PROJECT_VERSION_MAJOR} ZYR_VERSION_MINOR=${PROJECT_VERSION_MINOR}
    ZYR_VERSION_PATCH=${PROJECT_VERSION_PATCH} ZYR_VERSION_TWEAK=${PROJECT_VERSION_TWEAK})

# Optimised builds harden every program and library as Debian's build flags do (hardening=+all): stack
# protector, format checks, full RELRO with immediate binding, PIE, and fortified libc calls. Set here, not
# by the packaging, so a build from source gets them too. Fortify needs optimisation and stands aside for
# the sanitizers, which check those accesses themselves. Level 3 where the C library knows it (level 2
# elsewhere); undefined first, so a compiler's own default neither warns nor wins.
set(ZYR_HARDENED_CONFIG "$<CONFIG:Release,RelWithDebInfo>")
add_compile_options("$<${ZYR_HARDENED_CONFIG}:-fstack-protector-strong;-Wformat;-Werror=format-security>")
if(NOT ZYR_SANITIZE AND NOT ZYR_FUZZ)
    add_compile_options("$<${ZYR_HARDENED_CONFIG}:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=3>")
endif()
add_link_options("$<${ZYR_HARDENED_CONFIG}:-Wl,-z,relro;-Wl,-z,now>")
# Programs linked as PIE, not only compiled so, whatever the compiler's default.
include(CheckPIESupported)
check_pie_supported()

# In fuzz builds every library is instrumented for coverage, so the fuzzer is guided by the code under test.
if(ZYR_FUZZ)
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()

if(ZYR_SANITIZE)
    add_compile_options(-fsanitize=${ZYR_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${ZYR_SANITIZE})
endif()

# zyr_add_fuzzer(name SOURCES files... LIBS libs... CORPUS dir)
# With ZYR_FUZZ a libFuzzer executable; otherwise a replay of the corpus registered with CTest, so a
# crash once found and added to the corpus stays fixed.
function(zyr_add_fuzzer name)
    cmake_parse_arguments(F "" "CORPUS" "SOURCES;LIBS" ${ARGN})
    if(ZYR_FUZZ)
        add_executable(${name} ${F_SOURCES})
        target_link_options(${name} PRIVATE -fsanitize=fuzzer)
        set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
        target_link_libraries(${name} PRIVATE zyr_common ${F_LIBS})
        file(APPEND ${CMAKE_BINARY_DIR}/fuzzers.txt "${name} ${F_CORPUS}\n")
    elseif(ZYR_BUILD_TESTS)
        # Not in a build for other labels only (ZYR_TEST_LABELS).
        if(ZYR_TEST_LABELS AND NOT "fuzz-replay" IN_LIST ZYR_TEST_LABELS)
            return()
        endif()
        add_executable(${name}_replay ${F_SOURCES} ${PROJECT_SOURCE_DIR}/tests/fuzz_replay_main.cpp)
        target_link_libraries(${name}_replay PRIVATE zyr_common ${F_LIBS})
        add_test(NAME ${name}_replay COMMAND ${name}_replay ${F_CORPUS})
        set_tests_properties(${name}_replay PROPERTIES LABELS "fuzz-replay")
    endif()
endfunction()
