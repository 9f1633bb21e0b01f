# SPDX-License-Identifier: MIT
# Installation: the library, the boundary headers, corvane-host with its
# manual page, and for each Debian package its copyright file and changelog.
#   cmake --install BUILD [--prefix P] [--component C]   (DESTDIR honoured)
# scripts/package turns each component into a Debian package.
include(GNUInstallDirs)

set(CORVANE_MAINTAINER "corvane-kill maintainers <maintainers@corvane-kill.invalid>")

install(TARGETS corvane-kill
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library NAMELINK_COMPONENT development)
install(FILES host/host-services.h host/corvane-kill.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/corvane-kill COMPONENT development)
install(TARGETS corvane-host RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT host)

# The manual page: help2man reads corvane-host --help-all and --version, so
# the options cannot drift from the program; corvane-host.h2m adds the rest.
set(manual_page ${PROJECT_BINARY_DIR}/corvane-host.1.gz)
set(manual_include ${PROJECT_SOURCE_DIR}/corvane-host/corvane-host.h2m)
add_custom_command(OUTPUT ${manual_page}
  COMMAND help2man --no-info --section=1 --help-option=--help-all --include=${manual_include}
          "--name=find and end the corvane programs running from an installation"
          --output=corvane-host.1 $<TARGET_FILE:corvane-host>
  COMMAND gzip -9nf corvane-host.1
  DEPENDS corvane-host ${manual_include}
  WORKING_DIRECTORY ${PROJECT_BINARY_DIR} VERBATIM)
add_custom_target(manual-page ALL DEPENDS ${manual_page})
install(FILES ${manual_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT host)

# The licence as Debian's machine-readable copyright file, made from
# LICENSE: its text indented, blank lines as " .".
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

# CHANGELOG.md as a compressed Debian changelog.
set(changelog ${PROJECT_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${changelog}
  COMMAND awk -v source=${PROJECT_NAME} -v maintainer=${CORVANE_MAINTAINER}
          -f ${PROJECT_SOURCE_DIR}/cmake/debian-changelog.awk ${PROJECT_SOURCE_DIR}/CHANGELOG.md
          > changelog
  COMMAND gzip -9nf changelog
  DEPENDS ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${PROJECT_SOURCE_DIR}/cmake/debian-changelog.awk
  WORKING_DIRECTORY ${PROJECT_BINARY_DIR} VERBATIM)
add_custom_target(debian-changelog ALL DEPENDS ${changelog})

# Debian names a shared-library package after its SONAME: libcorvane-kill.so.1n.
foreach(pair IN ITEMS library:libcorvane-kill1n development:libcorvane-kill-dev host:corvane-host)
  string(REPLACE ":" ";" pair "${pair}")
  list(GET pair 0 component)
  list(GET pair 1 package)
  install(FILES ${PROJECT_BINARY_DIR}/copyright ${changelog}
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
endforeach()
