# Helpers shared by every folder of the tree.

# Environment of every test process.
set(ORVANE_TEST_ENVIRONMENT
    "QT_QPA_PLATFORM=offscreen"
    "ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=0"
    "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0"
    "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1"
    "ORVANE_SOURCE_DIR=${PROJECT_SOURCE_DIR}")


# orvane_add_library(<name> <sources...> [LIBS <targets...>])
# A static library of one subsystem; every library is remembered so that fuzz
# targets and benchmarks can link the whole tree.
function(orvane_add_library name)
    cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
    add_library(${name} STATIC ${ARG_UNPARSED_ARGUMENTS})
    # Headers of src/ are named with their layer ("model/KIServer.h"); other
    # folders (the simulated server) keep their own folder on the path.
    if(CMAKE_CURRENT_SOURCE_DIR MATCHES "^${PROJECT_SOURCE_DIR}/src/")
        target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    else()
        target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
    endif()
    target_link_libraries(${name} PUBLIC ${ARG_LIBS})
    set_property(GLOBAL APPEND PROPERTY ORVANE_LIBRARIES ${name})
endfunction()

# orvane_add_test(<name> <sources...> [LIBS <targets...>])
# One GoogleTest executable; every test case becomes its own CTest test, run
# with an offscreen Qt platform and its own temporary run-time folders (the
# support library's main() sets them up).
function(orvane_add_test name)
    cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
    add_executable(${name} ${ARG_UNPARSED_ARGUMENTS})
    target_link_libraries(${name} PRIVATE orvane_test_support ${ARG_LIBS})
    gtest_discover_tests(${name}
        DISCOVERY_MODE PRE_TEST
        DISCOVERY_TIMEOUT 60
        PROPERTIES ENVIRONMENT "${ORVANE_TEST_ENVIRONMENT}" TIMEOUT 300)
endfunction()
