# Install rules, the packages for consumers of the library and the Debian
# package of the tools. Two components:
#   dev    libtarnu.a, its headers under include/tarnu/, the CMake package
#          (find_package(Tarnu CONFIG) -> Tarnu::tarnu) and tarnu.pc;
#   tools  the programs for packagers and developers (tools/CMakeLists.txt
#          names them), the installer under libexec/tarnu/ where the
#          installed mkdist looks for it, the manual pages, the core
#          catalogues and the sample package under share/tarnu/.
# `cmake --install` installs both; `cpack -G DEB` packs the tools alone as
# tarnu-tools.
include(CMakePackageConfigHelpers)

set(TARNU_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Tarnu)

install(TARGETS tarnu EXPORT TarnuTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
# The module headers; the headers inside a module's directory are private.
file(GLOB TARNU_PUBLIC_HEADERS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/lib/*.h)
install(FILES ${TARNU_PUBLIC_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tarnu COMPONENT dev)
install(EXPORT TarnuTargets NAMESPACE Tarnu:: DESTINATION ${TARNU_CMAKEDIR} COMPONENT dev)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/TarnuConfig.cmake.in
  ${PROJECT_BINARY_DIR}/TarnuConfig.cmake INSTALL_DESTINATION ${TARNU_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/TarnuConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/TarnuConfig.cmake ${PROJECT_BINARY_DIR}/TarnuConfigVersion.cmake
        DESTINATION ${TARNU_CMAKEDIR} COMPONENT dev)

# tarnu.pc names its prefix relative to its own place, so the files can be
# installed under any prefix after configuring.
file(RELATIVE_PATH TARNU_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
configure_file(${PROJECT_SOURCE_DIR}/cmake/tarnu.pc.in ${PROJECT_BINARY_DIR}/tarnu.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/tarnu.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

install(TARGETS setup RUNTIME DESTINATION ${TARNU_LIBEXECDIR} COMPONENT tools)

# Manual pages: man/<name>.<section>.
file(GLOB TARNU_MAN_PAGES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/man/*.[1-9])
foreach(page IN LISTS TARNU_MAN_PAGES)
  string(REGEX REPLACE ".*\\.([1-9])$" "\\1" section ${page})
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT tools)
endforeach()

# share/tarnu is a tool base directory: trans.conf and db/<language>/*.tdb.
get_property(TARNU_CATALOGUE_DIR GLOBAL PROPERTY TARNU_CATALOGUE_DIR)
if(TARGET catalogues AND TARNU_CATALOGUE_DIR)
  install(FILES ${TARNU_CATALOGUE_DIR}/trans.conf DESTINATION ${TARNU_DATADIR} COMPONENT tools)
  install(DIRECTORY ${TARNU_CATALOGUE_DIR}/db DESTINATION ${TARNU_DATADIR} COMPONENT tools
          FILES_MATCHING PATTERN "*.tdb")
endif()
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/package DESTINATION ${TARNU_DATADIR}/examples
        USE_SOURCE_PERMISSIONS COMPONENT tools)

# The Debian package: the tools component under /usr, no maintainer scripts.
set(CPACK_PACKAGE_NAME tarnu)
set(CPACK_PACKAGE_VENDOR "Tarnu")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Tarnu distribution builder, record-file tool and trial sandbox")
set(CPACK_PACKAGE_CONTACT "Tarnu maintainers <tarnu@localhost>")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};Tarnu;tools;/")
set(CPACK_DEBIAN_PACKAGE_NAME tarnu-tools)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
# mkdist archives with tar and compresses with compress(1) or gzip; the
# sandbox needs unshare and mount; the programs' libraries come from
# dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "bash, coreutils, tar, gzip, ncompress, util-linux, mount")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
