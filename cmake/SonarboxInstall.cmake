# Install layout (cmake --install, the Debian package):
#   bin/                          the programs
#   lib…/sonarbox/                libtonemill and the recognition engine (private:
#                                 only these programs load them)
#   share/sonarbox/               fonts, translations, default deployment configuration
#   share/icons/hicolor/          application and tray icons
# Every program finds its libraries and data relative to its own file
# ($ORIGIN, ../share), so an installed tree works under any prefix and
# unpacked anywhere. The build stages the same share/ in the build tree.
set(SONARBOX_INSTALL_PRIVATE_LIBDIR "${CMAKE_INSTALL_LIBDIR}/sonarbox")
set(SONARBOX_INSTALL_DATADIR "${CMAKE_INSTALL_DATADIR}/sonarbox")
set(SONARBOX_SHARE_STAGE "${CMAKE_BINARY_DIR}/share")
set(SONARBOX_DATA_STAGE "${SONARBOX_SHARE_STAGE}/sonarbox")

# `install` and `cpack` do not build the whole tree (tests, benchmarks):
# scripts/package.sh builds the target sonarbox_installables first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
add_custom_target(sonarbox_installables)

file(RELATIVE_PATH _sonarbox_bin_to_lib "/${CMAKE_INSTALL_BINDIR}"
     "/${SONARBOX_INSTALL_PRIVATE_LIBDIR}")

# sonarbox_install_program(<target>): into bin/, finding the private
# libraries beside it.
function(sonarbox_install_program target)
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "\$ORIGIN/${_sonarbox_bin_to_lib}")
    install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    add_dependencies(sonarbox_installables ${target})
endfunction()

# sonarbox_install_private_library(<target>): into lib…/sonarbox/, finding
# its siblings there.
function(sonarbox_install_private_library target)
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "\$ORIGIN")
    install(TARGETS ${target} LIBRARY DESTINATION ${SONARBOX_INSTALL_PRIVATE_LIBDIR}
            NAMELINK_SKIP)
    add_dependencies(sonarbox_installables ${target})
endfunction()
