# The Debian package: qz81kt-dxp_<version>_amd64.deb, its dependencies computed from
# the binaries.
set(CPACK_PACKAGE_NAME qz81kt-dxp)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "QZ-81KT DXP developers <maintainers@users.noreply.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "remote-control panel for the QZ-81KT SDI/IEEE1394 video converter")
set(CPACK_PACKAGE_DESCRIPTION "The panel qz81kt-dxp, the command line qz81kt and the emulator qz81kt-emu
control a QZ-81KT converter over MIDI System Exclusive messages, or its
built-in emulator without hardware.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
include(CPack)
# The service's options file is the administrator's: kept over upgrades.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${CMAKE_CURRENT_LIST_DIR}/systemd/conffiles")
