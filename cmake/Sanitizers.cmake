# SPDX-License-Identifier: GPL-3.0-or-later
# Instrumented builds.
#
# POSTLARK_SANITIZE (scripts/test --sanitize): AddressSanitizer, UndefinedBehaviorSanitizer and
# LeakSanitizer in every target. Every program gets built-in default options (halt on the first
# report, exit code 86, the leak suppressions of tests/support/sanitizer/leaks.supp), so a test program
# and any program it starts fail the same recognisable way without depending on the caller's
# environment. ASAN_OPTIONS, UBSAN_OPTIONS and LSAN_OPTIONS still override them.
#
# POSTLARK_FUZZ (scripts/fuzz, clang only): libFuzzer coverage plus AddressSanitizer and
# UndefinedBehaviorSanitizer in every target, and the fuzz targets of fuzz/.

option(POSTLARK_SANITIZE "Build with address, undefined-behaviour and leak sanitizers" OFF)
option(POSTLARK_FUZZ "Build the libFuzzer targets of fuzz/ (needs clang)" OFF)

set(POSTLARK_SANITIZER_FLAGS
    -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)

if(POSTLARK_SANITIZE AND POSTLARK_FUZZ)
    message(FATAL_ERROR "POSTLARK_SANITIZE and POSTLARK_FUZZ need separate build folders")
endif()

if(POSTLARK_SANITIZE)
    add_compile_options(${POSTLARK_SANITIZER_FLAGS})
    add_link_options(-fsanitize=address,undefined)
endif()

if(POSTLARK_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "POSTLARK_FUZZ needs clang (configure with CXX=clang++)")
    endif()
    add_compile_options(-fsanitize=fuzzer-no-link ${POSTLARK_SANITIZER_FLAGS})
    add_link_options(-fsanitize=address,undefined)
endif()

# Collects the executables defined in `dir` and below.
function(postlark_collect_executables dir out)
    set(found)
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target ${targets})
        get_target_property(type ${target} TYPE)
        if(type STREQUAL "EXECUTABLE")
            list(APPEND found ${target})
        endif()
    endforeach()
    get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    foreach(subdir ${subdirs})
        postlark_collect_executables(${subdir} more)
        list(APPEND found ${more})
    endforeach()
    set(${out} ${found} PARENT_SCOPE)
endfunction()

# Gives every program of the project the sanitizer defaults (call once, after all targets exist).
function(postlark_add_sanitizer_defaults)
    if(NOT POSTLARK_SANITIZE)
        return()
    endif()
    postlark_collect_executables(${PROJECT_SOURCE_DIR} programs)
    foreach(program ${programs})
        target_sources(${program} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/sanitizer/SanitizerOptions.cpp)
        target_include_directories(${program} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
        target_compile_definitions(${program} PRIVATE
            POSTLARK_LEAK_SUPPRESSIONS="${PROJECT_SOURCE_DIR}/tests/support/sanitizer/leaks.supp")
    endforeach()
endfunction()
