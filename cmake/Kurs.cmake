# kurs_test(NAME LABEL <label> SOURCES <files...> LIBS <targets...>)
# One GoogleTest binary per folder, registered with CTest and labelled by folder.
function(kurs_test name)
    cmake_parse_arguments(T "" "LABEL" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
    gtest_discover_tests(${name}
        DISCOVERY_TIMEOUT 60
        PROPERTIES LABELS ${T_LABEL} TIMEOUT 120
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()

# kurs_benchmark(NAME SOURCES <files...> LIBS <targets...>)
# Benchmarks print their figures; they are never part of the test run.
function(kurs_benchmark name)
    cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
    if(NOT KURS_BENCHMARKS)
        return()
    endif()
    add_executable(${name} ${B_SOURCES})
    target_link_libraries(${name} PRIVATE ${B_LIBS} Threads::Threads)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bench)
endfunction()
