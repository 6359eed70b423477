# The Debian package (scripts/package.sh): everything `cmake --install`
# lays out, under /usr, with dependencies read from the programs' libraries
# by dpkg-shlibdeps and named for what is loaded at run time.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME sonarbox)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Sonarbox developers")
set(CPACK_PACKAGE_CONTACT "The Sonarbox developers <developers@sonarbox.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "keeps a music collection and a cloud music library in step")
set(CPACK_PACKAGE_DESCRIPTION
    "Sonarbox lives in the system tray. It finds the music on this computer,\n"
    "identifies every new file by its checksum and an acoustic fingerprint,\n"
    "lets the cloud music service add the tracks it already holds without an\n"
    "upload, uploads the rest and downloads the songs of the cloud library\n"
    "that the computer lacks, every hour.\n"
    "\n"
    "The package holds the desktop program, the same engine without a desktop\n"
    "(sonarbox-headless, with a systemd user unit), libtonemill and the\n"
    "recognition engine, the catalogue tool tonemill-catalog and the reference\n"
    "server sonarbox-cloud.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Only the programs and their data: the C header stays with the build.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};Sonarbox;Unspecified;/")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://sonarbox.org/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
    "${CMAKE_BINARY_DIR}/fplib;${CMAKE_BINARY_DIR}/recognition")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
# The store's SQLite driver is a Qt plug-in, which no library dependency
# names (the X11 platform and TLS plug-ins come with the Qt libraries).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "mpd")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "gnome-keyring")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

include(CPack)
