# The client's data and the freedesktop pieces: staged into <build>/share/
# (so programs run from this build tree find them, see
# client/settings/DataFolders.h) and installed under the prefix.
set(_res ${PROJECT_SOURCE_DIR}/client/resources)
set(_pkg ${PROJECT_SOURCE_DIR}/packaging)

# Fonts and the default deployment configuration, staged at configure time
# (configure_file copies again whenever the source changes).
set(_fonts Raleway-Regular.ttf Raleway-Medium.ttf Raleway-Heavy.ttf OFL.txt)
foreach(f ${_fonts})
    configure_file(${_res}/fonts/${f} ${SONARBOX_DATA_STAGE}/fonts/${f} COPYONLY)
    install(FILES ${_res}/fonts/${f} DESTINATION ${SONARBOX_INSTALL_DATADIR}/fonts)
endforeach()
configure_file(${_res}/sonarbox.ini ${SONARBOX_DATA_STAGE}/sonarbox.ini COPYONLY)
install(FILES ${_res}/sonarbox.ini DESTINATION ${SONARBOX_INSTALL_DATADIR})
# The compiled localisation tables (client/settings makes them in the stage).
install(DIRECTORY ${SONARBOX_DATA_STAGE}/translations DESTINATION ${SONARBOX_INSTALL_DATADIR}
        FILES_MATCHING PATTERN "*.qm")

# Icons: the SVGs, and PNGs rendered from them at the sizes panels and menus ask for.
find_program(SONARBOX_RSVG_CONVERT rsvg-convert)
if(NOT SONARBOX_RSVG_CONVERT)
    message(FATAL_ERROR "rsvg-convert is missing (Debian: librsvg2-bin, see scripts/setup.sh)")
endif()
set(_icon_pngs)
function(_sonarbox_icon name context sizes)
    set(svg ${_pkg}/icons/${name}.svg)
    set(scalable ${SONARBOX_SHARE_STAGE}/icons/hicolor/scalable/${context}/${name}.svg)
    configure_file(${svg} ${scalable} COPYONLY)
    install(FILES ${svg} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/${context})
    foreach(size ${sizes})
        set(dir icons/hicolor/${size}x${size}/${context})
        set(png ${SONARBOX_SHARE_STAGE}/${dir}/${name}.png)
        add_custom_command(OUTPUT ${png}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${SONARBOX_SHARE_STAGE}/${dir}
            COMMAND ${SONARBOX_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${svg}
            DEPENDS ${svg} VERBATIM)
        install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/${dir})
        list(APPEND _icon_pngs ${png})
    endforeach()
    set(_icon_pngs ${_icon_pngs} PARENT_SCOPE)
endfunction()
_sonarbox_icon(org.sonarbox.Sonarbox apps "16;22;24;32;48;64;128;256")
foreach(state idle syncing offline attention)
    _sonarbox_icon(sonarbox-tray-${state} status "16;22;24;32;48")
endforeach()
add_custom_target(sonarbox_icons ALL DEPENDS ${_icon_pngs})
add_dependencies(sonarbox_installables sonarbox_icons)

# Desktop entry, AppStream metainfo, the headless engine's systemd user unit.
install(FILES ${_pkg}/org.sonarbox.Sonarbox.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
configure_file(${_pkg}/org.sonarbox.Sonarbox.metainfo.xml
               ${CMAKE_BINARY_DIR}/packaging/org.sonarbox.Sonarbox.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/org.sonarbox.Sonarbox.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
# The unit names the program by its installed path, which only the install
# (its prefix: /usr for the package) knows.
install(CODE "
    set(SONARBOX_INSTALLED_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    configure_file(\"${_pkg}/sonarbox-headless.service.in\"
                   \"${CMAKE_BINARY_DIR}/packaging/sonarbox-headless.service\" @ONLY)")
install(FILES ${CMAKE_BINARY_DIR}/packaging/sonarbox-headless.service
        DESTINATION lib/systemd/user)

# Manual pages and the package's documentation, compressed as Debian wants them.
find_program(SONARBOX_GZIP gzip REQUIRED)
set(_docs)
function(_sonarbox_gzip source output destination)
    add_custom_command(OUTPUT ${output}
        COMMAND ${SONARBOX_GZIP} -9nc ${source} > ${output}
        DEPENDS ${source})
    install(FILES ${output} DESTINATION ${destination})
    set(_docs ${_docs} ${output} PARENT_SCOPE)
endfunction()
foreach(page sonarbox sonarbox-headless sonarbox-cloud tonemill-catalog)
    _sonarbox_gzip(${_pkg}/man/${page}.1 ${CMAKE_BINARY_DIR}/packaging/${page}.1.gz
                   ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
configure_file(${_pkg}/changelog ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
_sonarbox_gzip(${CMAKE_BINARY_DIR}/packaging/changelog ${CMAKE_BINARY_DIR}/packaging/changelog.gz
               ${CMAKE_INSTALL_DATADIR}/doc/sonarbox)
install(FILES ${_pkg}/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/sonarbox)
add_custom_target(sonarbox_docs ALL DEPENDS ${_docs})
add_dependencies(sonarbox_installables sonarbox_docs)
