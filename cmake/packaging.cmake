# SPDX-License-Identifier: MIT
# Installation: the library, the boundary headers, corvane-host with its
# manual page.
#   cmake --install BUILD [--prefix P] [--component C]   (DESTDIR honoured)
# debian/ and packaging/rpm/ package what this installs; the licence, the
# changelog and compression of the manual page are the distributions' own.
include(GNUInstallDirs)

install(TARGETS corvane-kill
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library NAMELINK_COMPONENT development)
install(FILES host/host-services.h host/corvane-kill.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/corvane-kill COMPONENT development)
install(TARGETS corvane-host RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT host)

# The manual page: help2man reads corvane-host --help-all and --version, so
# the options, the exit statuses and the outcome words (the end of --help,
# printed from the program's own tables) cannot drift from the program;
# corvane-host.h2m adds the synopsis and the prose.
# Installed uncompressed: dh_installman and rpm's brp-compress compress it.
set(manual_page ${PROJECT_BINARY_DIR}/corvane-host.1)
set(manual_include ${PROJECT_SOURCE_DIR}/corvane-host/commands/corvane-host.h2m)
add_custom_command(OUTPUT ${manual_page}
  COMMAND help2man --no-info --section=1 --help-option=--help-all --include=${manual_include}
          "--name=find and end the corvane programs running from an installation"
          --output=${manual_page} $<TARGET_FILE:corvane-host>
  DEPENDS corvane-host ${manual_include}
  WORKING_DIRECTORY ${PROJECT_BINARY_DIR} VERBATIM)
add_custom_target(manual-page ALL DEPENDS ${manual_page})
install(FILES ${manual_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT host)
