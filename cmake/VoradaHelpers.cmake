# Warnings and sanitizer flags live in one INTERFACE target that every target links.
add_library(vorada_options INTERFACE)
target_compile_options(vorada_options INTERFACE -Wall -Wextra -Wpedantic -Wshadow -ffp-contract=off)
target_include_directories(vorada_options INTERFACE ${PROJECT_SOURCE_DIR})
if(VORADA_WERROR)
    target_compile_options(vorada_options INTERFACE -Werror)
endif()
if(VORADA_SANITIZE)
    # The standard library's own checks too: an index past a vector's end that stays within its
    # capacity is no fault to the address sanitizer.
    target_compile_options(vorada_options INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
                                                    -fno-sanitize-recover=undefined -D_GLIBCXX_ASSERTIONS)
    target_link_options(vorada_options INTERFACE -fsanitize=address,undefined)
endif()

# vorada_add_library(<folder> DEPS <targets...> [PRIVATE_DEPS <targets...>]): one library per
# source folder, built from the folder's .cpp files; a folder of headers only becomes an
# INTERFACE target. DEPS are what its headers need, PRIVATE_DEPS what only its sources need.
function(vorada_add_library folder)
    cmake_parse_arguments(ARG "" "" "DEPS;PRIVATE_DEPS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    set(target vorada_${folder})
    if(sources)
        add_library(${target} STATIC ${sources})
        target_link_libraries(${target} PUBLIC vorada_options vorada_deps ${ARG_DEPS})
        target_link_libraries(${target} PRIVATE ${ARG_PRIVATE_DEPS})
    else()
        add_library(${target} INTERFACE)
        target_link_libraries(${target} INTERFACE vorada_options vorada_deps ${ARG_DEPS})
    endif()
endfunction()

# vorada_add_test(<folder> [TIMEOUT <seconds>] DEPS <targets...>): one GoogleTest executable per
# test folder. Every case gets a timeout (120 s unless the folder asks for more), so a test that
# loops forever fails instead of holding CI until its limit.
function(vorada_add_test folder)
    cmake_parse_arguments(ARG "" "TIMEOUT" "DEPS" ${ARGN})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*.cpp)
    if(NOT sources)
        return()
    endif()
    set(target test_${folder})
    add_executable(${target} ${sources})
    target_link_libraries(${target} PRIVATE ${ARG_DEPS} vorada_test_support GTest::gtest GTest::gmock
                                            GTest::gtest_main)
    gtest_discover_tests(${target} WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
                         PROPERTIES ENVIRONMENT "VORADA_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
                                    TIMEOUT ${ARG_TIMEOUT}
                         DISCOVERY_TIMEOUT 60)
endfunction()
