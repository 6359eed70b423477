# Warnings for our own targets: call sonarbox_warnings(target) on each.
function(sonarbox_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wno-missing-field-initializers)
endfunction()
