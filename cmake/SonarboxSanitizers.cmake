# SONARBOX_SANITIZE applies to everything built in the tree, so that the
# libraries and the tests that load them agree on the runtime.
if(SONARBOX_SANITIZE)
    message(STATUS "Sanitizers: ${SONARBOX_SANITIZE}")
    add_compile_options(-fsanitize=${SONARBOX_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${SONARBOX_SANITIZE})
    # A report needs the lines of its stack, not the variables: line tables
    # only, and the light optimisation the sanitizers are made for. The tree
    # then builds in about 60% of the time, which CI's three builds feel.
    # These come after the build type's flags, so they win over -O2 -g.
    add_compile_options(-O1 -g1)
    # Instrumented code at -O1 makes GCC 12 believe that libstdc++'s own regex
    # states may be read uninitialised, a report the normal build (which
    # keeps the warning, and sees the same code) never gives.
    add_compile_options(-Wno-maybe-uninitialized)
endif()
