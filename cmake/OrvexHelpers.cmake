# orvex_add_test(NAME SOURCES ... LIBS ... [LABELS ...] [THREADED filter] [SKIP pattern...]
#                [VARIANT prefix VAR=set:value])
# One GoogleTest executable per subsystem; each test case is registered with CTest. Every
# test runs with its settings in a temporary folder of its own (tests/support). THREADED names,
# as a GoogleTest filter, the cases that run threads of their own: they alone get the label
# "threaded", which the thread sanitizer's run takes. SKIP names GoogleTest patterns of cases
# this build leaves out (a feature it was built without). VARIANT registers every case a
# second time, named "prefix.Suite.Case", run with the environment variable VAR set to value.
function(orvex_add_test name)
    cmake_parse_arguments(T "" "THREADED" "SOURCES;LIBS;LABELS;SKIP;VARIANT" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} orvex_test_support GTest::gtest
                                          GTest::gtest_main GTest::gmock Threads::Threads)
    set(props ENVIRONMENT "ORVEX_TEST_BINARY_DIR=${CMAKE_BINARY_DIR}")
    if(WIN32)
        # The system's COM finds the module's classes through their registration
        # (tests/windows); each test program keeps its own settings in a key of its own.
        list(APPEND props FIXTURES_REQUIRED orvex_registered)
    endif()
    set(skipped)
    if(T_SKIP)
        list(JOIN T_SKIP ":" skipped)
        message(STATUS "${name}: left out in this build: ${skipped}")
    endif()
    # Discovery runs the program; under an emulator a first start may be slow.
    set(rest "-")
    if(T_THREADED)
        string(APPEND rest "${T_THREADED}:")
    endif()
    string(APPEND rest "${skipped}")
    set(filter)
    if(NOT rest STREQUAL "-")
        set(filter TEST_FILTER "${rest}")
    endif()
    set(threaded_filter "${T_THREADED}")
    if(T_THREADED AND skipped)
        string(APPEND threaded_filter "-${skipped}")
    endif()
    set(runs "-")  # "-": the plain run
    if(T_VARIANT)
        list(GET T_VARIANT 0 variant_prefix)
        list(GET T_VARIANT 1 variant_env)
        list(APPEND runs "${variant_prefix}")
    endif()
    foreach(run ${runs})
        set(run_props ${props})
        set(prefix)
        if(NOT run STREQUAL "-")
            set(prefix TEST_PREFIX "${run}.")
            list(APPEND run_props ENVIRONMENT_MODIFICATION "${variant_env}")
        endif()
        if(T_THREADED)
            set(labels ${T_LABELS} threaded)
            gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 ${prefix}
                                 TEST_FILTER "${threaded_filter}"
                                 PROPERTIES ${run_props} LABELS "${labels}")
        endif()
        if(T_LABELS)
            list(APPEND run_props LABELS "${T_LABELS}")
        endif()
        gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 ${prefix}
                             ${filter} PROPERTIES ${run_props})
    endforeach()
endfunction()

# orvex_add_fuzzer(NAME SOURCES ... LIBS ...)
# The target is also a test of the fuzz preset (label "fuzz"): a run of ORVEX_FUZZ_SECONDS
# (default 10) that starts from the seeds in fuzz/corpus/NAME, when that folder exists, and
# keeps what it finds in the build's corpus/NAME.
function(orvex_add_fuzzer name)
    cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${F_SOURCES})
    target_link_libraries(${name} PRIVATE ${F_LIBS} Threads::Threads)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)

    set(seconds 10)
    if(ORVEX_FUZZ_SECONDS MATCHES "^[1-9][0-9]*$")
        set(seconds ${ORVEX_FUZZ_SECONDS})
    endif()
    set(corpus ${CMAKE_BINARY_DIR}/corpus/${name})
    file(MAKE_DIRECTORY ${corpus})
    if(IS_DIRECTORY ${PROJECT_SOURCE_DIR}/fuzz/corpus/${name})
        list(APPEND corpus ${PROJECT_SOURCE_DIR}/fuzz/corpus/${name})
    endif()
    add_test(NAME fuzz.${name}
             COMMAND ${name} -max_total_time=${seconds} -rss_limit_mb=2048 -print_final_stats=1
                     ${corpus})
    math(EXPR limit "${seconds} + 120")
    set_tests_properties(fuzz.${name} PROPERTIES LABELS fuzz TIMEOUT ${limit})
endfunction()

# orvex_add_bench(NAME SOURCES ... LIBS ... [TEST_ARGS ...])
# With the tests, the benchmark is also a test (label "bench") that runs every case for one
# short iteration (TEST_ARGS shorten cases that run for a set time), so that a benchmark that
# crashes or reports an error fails the build's tests. Its settings stay in a folder of the
# build.
function(orvex_add_bench name)
    cmake_parse_arguments(B "" "" "SOURCES;LIBS;TEST_ARGS" ${ARGN})
    add_executable(${name} ${B_SOURCES})
    target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark Threads::Threads)
    if(ORVEX_TESTS)
        add_test(NAME bench.${name} COMMAND ${name} --benchmark_min_time=0 ${B_TEST_ARGS})
        set_tests_properties(bench.${name} PROPERTIES
            LABELS bench
            FAIL_REGULAR_EXPRESSION "ERROR OCCURRED"
            ENVIRONMENT "ORVEX_REGISTRY_DIR=${CMAKE_CURRENT_BINARY_DIR}/${name}-registry")
    endif()
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

# orvex_windows_dll(TARGET DEF file)
# On Windows: the DLL is named as its target (no "lib" prefix) and exports what its module
# definition file lists. A new module DLL (a card backend, a virtual card) adds one call.
# Elsewhere it does nothing.
function(orvex_windows_dll target)
    cmake_parse_arguments(D "" "DEF" "" ${ARGN})
    if(NOT WIN32)
        return()
    endif()
    set_target_properties(${target} PROPERTIES PREFIX "" IMPORT_PREFIX "")
    target_sources(${target} PRIVATE ${D_DEF})
endfunction()
