# What `cmake --install` puts beside the programs, and the Debian package made from it (cpack -G DEB)
# or, in the Windows build, the zip.
# Name and version come from the project() call, so the window, the desktop entry and the package agree.

configure_file(${PROJECT_SOURCE_DIR}/packaging/quillarn.desktop.in
               ${PROJECT_BINARY_DIR}/generated/quillarn.desktop @ONLY)

if(QUILLARN_WINDOW)
  install(FILES ${PROJECT_BINARY_DIR}/generated/quillarn.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/quillarn-32.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps RENAME quillarn.png)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/quillarn.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()
if(WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)
else()
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quillarn)
endif()

set(CPACK_PACKAGE_NAME quillarn)
set(CPACK_PACKAGE_VENDOR "The Quillarn developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "The Quillarn developers <dev@quillarn.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Go game record converter from UGI to SGF")
set(CPACK_PACKAGE_DESCRIPTION
    "Quillarn converts a record of a game of Go from the UGI text format, in which Japanese players\n\
keep their records, into an SGF record that every modern Go program reads. It has a small window\n\
with a Japanese interface (quillarn) and a command-line converter for whole archives (ugi2sgf).")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Quillarn developers <dev@quillarn.invalid>")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window's Japanese texts need a Japanese font; Qt's own Japanese buttons come with its translations.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-ipafont-gothic | fonts-noto-cjk | fonts-vlgothic")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
# The Windows build (cmake/toolchain-mingw64.cmake) is a zip of ugi2sgf.exe, the README and the
# licence: cpack -G ZIP makes ugi2sgf-VERSION-win64.zip.
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME ugi2sgf-${PROJECT_VERSION}-win64)
  set(CPACK_STRIP_FILES TRUE)
endif()
include(CPack)
