# Install rules and packages of the Windows build (included by
# ../install.cmake):
#   cmake --install BUILD --prefix P   programs to P/bin, README.txt to P,
#                                      the man pages as text to P/doc
#   cpack (in BUILD)                   vktools-VERSION-win64.zip and the
#                                      installer vktools-VERSION-win64.exe
#                                      (NSIS, Debian package nsis): Program
#                                      Files\vktools, optionally on PATH, with
#                                      an uninstaller
# Text files get CR LF line ends; the man pages are rendered with groff
# (Debian package groff-base). Packaged programs are stripped.
set(VK_INSTALLED_PROGRAMS ${VK_BUILT_TOOLS} vkports)
install(TARGETS ${VK_INSTALLED_PROGRAMS} RUNTIME DESTINATION bin)

find_program(VK_GROFF groff)
if(NOT VK_GROFF)
  message(WARNING "groff not found (Debian package groff-base): the Windows packages get no man pages")
endif()
set(VK_TEXT_DIR ${CMAKE_BINARY_DIR}/text)
set(VK_TEXTS ${VK_TEXT_DIR}/README.txt)
add_custom_command(OUTPUT ${VK_TEXT_DIR}/README.txt
  COMMAND ${CMAKE_COMMAND} -DIN=${CMAKE_SOURCE_DIR}/README.md -DOUT=${VK_TEXT_DIR}/README.txt
          -P ${CMAKE_CURRENT_LIST_DIR}/text.cmake
  DEPENDS ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_CURRENT_LIST_DIR}/text.cmake
  VERBATIM)
if(VK_GROFF)
  foreach(name ${VK_INSTALLED_PROGRAMS})
    set(page ${CMAKE_SOURCE_DIR}/docs/man/${name}.1)
    add_custom_command(OUTPUT ${VK_TEXT_DIR}/doc/${name}.txt
      COMMAND ${CMAKE_COMMAND} -DIN=${page} -DOUT=${VK_TEXT_DIR}/doc/${name}.txt -DGROFF=${VK_GROFF}
              -P ${CMAKE_CURRENT_LIST_DIR}/text.cmake
      DEPENDS ${page} ${CMAKE_CURRENT_LIST_DIR}/text.cmake
      COMMENT "Rendering man page ${name}.1 as text"
      VERBATIM)
    list(APPEND VK_TEXTS ${VK_TEXT_DIR}/doc/${name}.txt)
    install(FILES ${VK_TEXT_DIR}/doc/${name}.txt DESTINATION doc)
  endforeach()
endif()
add_custom_target(vk_text_docs ALL DEPENDS ${VK_TEXTS})
install(FILES ${VK_TEXT_DIR}/README.txt DESTINATION .)

set(CPACK_GENERATOR "ZIP;NSIS")
set(CPACK_PACKAGE_NAME vktools)
set(CPACK_PACKAGE_VENDOR "${VK_COPYRIGHT_HOLDER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME vktools-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_INSTALL_DIRECTORY vktools)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY vktools)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "host tools for a DSP board's flash file system")
set(CPACK_STRIP_FILES ON)
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_PACKAGE_NAME vktools)
set(CPACK_NSIS_DISPLAY_NAME "vktools ${PROJECT_VERSION}")
# The installer script: NSIS.template.in beside this file.
list(PREPEND CMAKE_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR})
include(CPack)
