# sonarbox_add_test(NAME <exe> LABELS <label...> SOURCES <files...> [LIBS <targets...>]
#                   [TIMEOUT <s>] [SERIAL])
# One GoogleTest executable per component; every test case becomes a CTest test
# carrying the given labels (unit, integration, gui, e2e). SERIAL: each case
# runs with no other test beside it. Every test program links
# sonarbox_testchild (tests/support/TestChild.h), so that the children it
# starts die with it.
function(sonarbox_add_test)
    cmake_parse_arguments(T "SERIAL" "NAME;TIMEOUT" "LABELS;SOURCES;LIBS" ${ARGN})
    add_executable(${T_NAME} ${T_SOURCES})
    sonarbox_warnings(${T_NAME})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} sonarbox_testchild GTest::gtest GTest::gmock)
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    # ThreadSanitizer checks every memory access against the other threads'
    # and runs the same test several times slower: it gets the time for that.
    if(SONARBOX_SANITIZE MATCHES "thread")
        math(EXPR T_TIMEOUT "${T_TIMEOUT} * 3")
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
