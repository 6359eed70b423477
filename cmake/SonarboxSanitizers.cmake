# SONARBOX_SANITIZE applies to everything built in the tree, so that the
# libraries and the tests that load them agree on the runtime.
if(SONARBOX_SANITIZE)
    message(STATUS "Sanitizers: ${SONARBOX_SANITIZE}")
    add_compile_options(-fsanitize=${SONARBOX_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${SONARBOX_SANITIZE})
endif()
