# sonarbox_add_test(NAME <exe> LABELS <label...> SOURCES <files...> [LIBS <targets...>]
#                   [TIMEOUT <s>] [SERIAL])
# One GoogleTest executable per component; every test case becomes a CTest test
# carrying the given labels (unit, integration, gui, e2e). SERIAL: each case
# runs with no other test beside it.
function(sonarbox_add_test)
    cmake_parse_arguments(T "SERIAL" "NAME;TIMEOUT" "LABELS;SOURCES;LIBS" ${ARGN})
    add_executable(${T_NAME} ${T_SOURCES})
    sonarbox_warnings(${T_NAME})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock)
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    set(serial FALSE)
    if(T_SERIAL)
        set(serial TRUE)
    endif()
    gtest_discover_tests(${T_NAME}
        DISCOVERY_MODE PRE_TEST
        DISCOVERY_TIMEOUT 60
        PROPERTIES LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT} RUN_SERIAL ${serial})
endfunction()
