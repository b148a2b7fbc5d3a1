# orvex_add_test(NAME SOURCES ... LIBS ... [LABELS ...])
# One GoogleTest executable per subsystem; each test case is registered with CTest. Every
# test runs with its settings in a temporary folder of its own (tests/support).
function(orvex_add_test name)
    cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} orvex_test_support GTest::gtest
                                          GTest::gtest_main GTest::gmock Threads::Threads)
    set(props ENVIRONMENT "ORVEX_TEST_BINARY_DIR=${CMAKE_BINARY_DIR}")
    if(T_LABELS)
        list(APPEND props LABELS "${T_LABELS}")
    endif()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES ${props})
endfunction()

# orvex_add_fuzzer(NAME SOURCES ... LIBS ...)
function(orvex_add_fuzzer name)
    cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${F_SOURCES})
    target_link_libraries(${name} PRIVATE ${F_LIBS} Threads::Threads)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    set_property(GLOBAL APPEND PROPERTY ORVEX_FUZZERS ${name})
endfunction()

# orvex_add_bench(NAME SOURCES ... LIBS ...)
function(orvex_add_bench name)
    cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${B_SOURCES})
    target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark Threads::Threads)
endfunction()

# Adds every immediate subfolder of the current folder that has a CMakeLists.txt.
function(orvex_add_subfolders)
    file(GLOB children RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
    list(SORT children)
    foreach(child ${children})
        if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child}
           AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
            add_subdirectory(${child})
        endif()
    endforeach()
endfunction()
