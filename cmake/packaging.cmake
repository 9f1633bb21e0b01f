# SPDX-License-Identifier: MIT
# Installation and Debian packages.
#   cmake --install BUILD [--prefix P]     (DESTDIR honoured)
#   cpack -G DEB --config BUILD/CPackConfig.cmake
include(GNUInstallDirs)

install(TARGETS corvane-kill
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library NAMELINK_COMPONENT development)
install(FILES host/host-services.h host/corvane-kill.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/corvane-kill COMPONENT development)
install(TARGETS corvane-host RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT host)

# Debian names a shared-library package after its SONAME: libcorvane-kill.so.1n.
set(library_package libcorvane-kill1n)

# Each package carries the licence as a machine-readable copyright file,
# made from LICENSE: its text indented, blank lines as " .".
file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE license_lines)
list(SUBLIST license_lines 4 -1 license_lines)
set(copyright "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: corvane-kill

Files: *
Copyright: 2026 The corvane-kill authors
License: Expat
")
foreach(line IN LISTS license_lines)
  if(line STREQUAL "")
    string(APPEND copyright " .\n")
  else()
    string(APPEND copyright " ${line}\n")
  endif()
endforeach()
file(WRITE ${PROJECT_BINARY_DIR}/copyright "${copyright}")
foreach(component_package IN ITEMS "library;${library_package}" "development;libcorvane-kill-dev"
                                   "host;corvane-host")
  list(GET component_package 0 component)
  list(GET component_package 1 package)
  install(FILES ${PROJECT_BINARY_DIR}/copyright
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
endforeach()
set(CPACK_PACKAGE_NAME corvane-kill)
set(CPACK_PACKAGE_VENDOR "corvane-kill")
set(CPACK_PACKAGE_CONTACT "corvane-kill maintainers <maintainers@corvane-kill.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL library development host)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME ${library_package})
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_COMPONENT_LIBRARY_DESCRIPTION
  "Installer plug-in that finds and ends running corvane programs\n The plug-in an installer host loads to learn which corvane programs still run\n from an installation and to end them, one SIGTERM each.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libcorvane-kill-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${library_package} (= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
  "Headers of the corvane-kill installer plug-in\n The host services an installer host supplies and the plug-in's exports.")

set(CPACK_DEBIAN_HOST_PACKAGE_NAME corvane-host)
set(CPACK_DEBIAN_HOST_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_HOST_PACKAGE_DEPENDS "${library_package} (= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_HOST_DESCRIPTION
  "Reference installer host for the corvane-kill plug-in\n Loads libcorvane-kill as an installer does and runs it against the live\n process table: check, kill, or both.")

include(CPack)
