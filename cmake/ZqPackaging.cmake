# pkg-config files of the libraries a host links, and a Debian package of
# everything `cmake --install` puts in place (cpack -G DEB in the build tree).
get_target_property(_zqplatform_version zqplatform VERSION)
set(ZQPLATFORM_PC_VERSION ${_zqplatform_version})
# The files name their prefix relative to where they lie, so a tree installed
# with `cmake --install --prefix` elsewhere describes itself.
file(RELATIVE_PATH ZQ_PC_TO_PREFIX "${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig" "${CMAKE_INSTALL_PREFIX}")
string(REGEX REPLACE "/$" "" ZQ_PC_TO_PREFIX "${ZQ_PC_TO_PREFIX}")
foreach(pc zqplatform zqcim zqso)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/pkgconfig/${pc}.pc.in ${CMAKE_BINARY_DIR}/pkgconfig/${pc}.pc @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/pkgconfig/${pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zqso-ibmsvc)
set(CPACK_PACKAGE_VENDOR "zqso")
set(CPACK_PACKAGE_CONTACT "zqso maintainers <zqso@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "IBM SVC snapshot-engine plug-in, its platform and CIM-XML libraries, svcsnap, svcsim and zqcim")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
