# Install rules and the Debian package, for Linux builds.
#   cmake --install BUILD --prefix P   programs to P/bin, man pages to
#                                      P/share/man/man1, bash completion to
#                                      P/share/bash-completion/completions,
#                                      README.md, copyright and changelog.gz
#                                      to P/share/doc/vktools
#   cpack -G DEB (in BUILD)            vktools_VERSION_ARCH.deb, prefix /usr
if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/windows/install.cmake)
  return()
endif()
include(GNUInstallDirs)

set(VK_INSTALLED_PROGRAMS ${VK_BUILT_TOOLS} vksim vkports)
install(TARGETS ${VK_INSTALLED_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Man pages, gzipped at build time as Debian ships them (plain without gzip).
find_program(VK_GZIP gzip)
set(VK_MAN_PAGES "")
foreach(name ${VK_INSTALLED_PROGRAMS})
  set(page ${CMAKE_SOURCE_DIR}/docs/man/${name}.1)
  if(VK_GZIP)
    set(packed ${CMAKE_BINARY_DIR}/man/${name}.1.gz)
    add_custom_command(OUTPUT ${packed}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND ${VK_GZIP} -9 -n -c ${page} > ${packed}
      DEPENDS ${page}
      COMMENT "Compressing man page ${name}.1"
      VERBATIM)
    list(APPEND VK_MAN_PAGES ${packed})
  else()
    list(APPEND VK_MAN_PAGES ${page})
  endif()
endforeach()
add_custom_target(vk_man_pages ALL DEPENDS ${VK_MAN_PAGES})
install(FILES ${VK_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# One completion file, found by bash-completion under each program's name.
set(VK_COMPLETIONS_DIR ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES ${CMAKE_SOURCE_DIR}/docs/completion/vktools.bash
        DESTINATION ${VK_COMPLETIONS_DIR} RENAME vktools)
foreach(name ${VK_INSTALLED_PROGRAMS})
  install(CODE "
    set(link \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${VK_COMPLETIONS_DIR}/${name}\")
    message(STATUS \"Installing: \${link} -> vktools\")
    file(CREATE_LINK vktools \"\${link}\" SYMBOLIC)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${link}\")")
endforeach()

install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The package's copyright file and changelog (Debian's places for them; the
# changelog gzipped as the man pages are).
set(VK_PACKAGE_MAINTAINER "vktools developers <vktools@example.org>" CACHE STRING
    "Maintainer field of the Debian package")
configure_file(${CMAKE_SOURCE_DIR}/docs/debian/copyright.in ${CMAKE_BINARY_DIR}/debian/copyright @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/docs/debian/changelog.in ${CMAKE_BINARY_DIR}/debian/changelog @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
if(VK_GZIP)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/debian/changelog.gz
    COMMAND ${VK_GZIP} -9 -n -c ${CMAKE_BINARY_DIR}/debian/changelog > ${CMAKE_BINARY_DIR}/debian/changelog.gz
    DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog
    VERBATIM)
  add_custom_target(vk_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog.gz)
  install(FILES ${CMAKE_BINARY_DIR}/debian/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
else()
  install(FILES ${CMAKE_BINARY_DIR}/debian/changelog DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vktools)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${VK_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "host tools for a DSP board's flash file system")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Command-line programs that talk over one serial port (local device or\n"
    "RFC 2217 network serial server) to the target monitor of a DSP board:\n"
    "vkburn and vkram load programs into its flash and RAM, vklist, vkcheck,\n"
    "vkerase, vkname, vkwipe and vkstart manage the flash file system.\n"
    "vksim simulates the board; vkports lists the serial ports.")
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)  # needs dpkg-shlibdeps (package dpkg-dev)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
