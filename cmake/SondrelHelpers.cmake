# sondrel_library(NAME SOURCES ... LIBS ...)
#   A static library of one subsystem; its headers are reached as "<folder>/<File>.h"
#   from the src/ root.
function(sondrel_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${ARG_LIBS})
endfunction()

# sondrel_test(NAME SOURCES ... LIBS ... [LABELS ...] [TIMEOUT s] [ENV VAR=VALUE ...])
#   A GoogleTest executable; each of its test cases becomes one CTest test.
function(sondrel_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS;ENV" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock Threads::Threads)
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    set(props TIMEOUT ${ARG_TIMEOUT})
    if(ARG_LABELS)
        list(APPEND props LABELS "${ARG_LABELS}")
    endif()
    list(APPEND ARG_ENV "QT_QPA_PLATFORM=offscreen" "SONDREL_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
         "SONDREL_BINARY_DIR=${PROJECT_BINARY_DIR}")
    # gtest_discover_tests flattens list-valued PROPERTIES, so an ENVIRONMENT list would
    # keep only its first entry: the tests (and their discovery) run under `cmake -E env`.
    set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR
                                             "${CMAKE_COMMAND};-E;env;${ARG_ENV}")
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                         PROPERTIES ${props})
endfunction()
