# What `cmake --install` puts beside the programs, and the Debian package made from it (cpack -G DEB)
# or, in the Windows build, the zip; in the web page's build, the zip of the site.
# Name and version come from the project() call, so the window, the desktop entry and the package agree.
# tests/package/package_test.sh checks the package with lintian, appstreamcli and xdg-mime.

if(EMSCRIPTEN)
  # quillarn-web-VERSION.zip (web/build.sh): the site's files in one folder, to unpack on any web
  # server that serves static files.
  install(DIRECTORY ${QUILLARN_SITE}/ DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_NAME quillarn-web)
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_PACKAGE_FILE_NAME quillarn-web-${PROJECT_VERSION})
  include(CPack)
  return()
endif()

set(CPACK_PACKAGE_CONTACT "The Quillarn developers <dev@quillarn.invalid>")
# The AppStream id. The project has no domain of its own yet, so it uses the reserved one of the
# maintainer address; the metadata names no homepage until there is one.
set(QUILLARN_APPSTREAM_ID invalid.quillarn.Quillarn)

set(generated ${PROJECT_BINARY_DIR}/generated)
configure_file(${PROJECT_SOURCE_DIR}/packaging/quillarn.desktop.in ${generated}/quillarn.desktop @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/packaging/quillarn.metainfo.xml.in
               ${generated}/${QUILLARN_APPSTREAM_ID}.metainfo.xml @ONLY)

# The copyright file in Debian's machine-readable form, holding the terms of LICENSE: each line
# indented by one space, an empty line written " .".
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
string(FIND "${license}" "Permission is hereby granted" terms_start)
string(SUBSTRING "${license}" ${terms_start} -1 terms)
string(STRIP "${terms}" terms)
string(REPLACE "\n\n" "\n.\n" terms "${terms}")
string(REPLACE "\n" "\n " QUILLARN_LICENSE_TERMS " ${terms}")
configure_file(${PROJECT_SOURCE_DIR}/packaging/copyright.in ${generated}/copyright @ONLY)

# Manual pages and the changelog go in compressed, as Debian keeps them: gzip -9n, without the name
# and time stamp, so that the same sources give the same package. Without gzip they go in as they are.
find_program(QUILLARN_GZIP gzip)
set(gz "")
if(QUILLARN_GZIP)
  set(gz .gz)
endif()
set(man_pages ${PROJECT_SOURCE_DIR}/docs/ugi2sgf.1)
if(QUILLARN_WINDOW AND NOT WIN32)
  list(APPEND man_pages ${PROJECT_SOURCE_DIR}/docs/quillarn.1)
endif()
if(QUILLARN_THUMBNAILER AND NOT WIN32)
  list(APPEND man_pages ${PROJECT_SOURCE_DIR}/docs/quillarn-thumbnailer.1)
endif()
set(compressed)
foreach(source IN LISTS man_pages ITEMS ${PROJECT_SOURCE_DIR}/packaging/changelog)
  get_filename_component(name ${source} NAME)
  if(QUILLARN_GZIP)
    add_custom_command(OUTPUT ${generated}/${name}.gz
                       COMMAND ${QUILLARN_GZIP} -9n -c ${source} > ${generated}/${name}.gz
                       DEPENDS ${source} COMMENT "Compressing ${name}")
    list(APPEND compressed ${generated}/${name}.gz)
    set(installed_${name} ${generated}/${name}.gz)
  else()
    set(installed_${name} ${source})
  endif()
endforeach()
add_custom_target(compressed_docs ALL DEPENDS ${compressed})
if(NOT WIN32)
  foreach(source IN LISTS man_pages)
    get_filename_component(name ${source} NAME)
    install(FILES ${installed_${name}} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
endif()
# The Japanese manual page of ugi2sgf, where man finds it in a Japanese locale.
if(NOT WIN32)
  set(japanese_man ${PROJECT_SOURCE_DIR}/docs/ja/ugi2sgf.1)
  if(QUILLARN_GZIP)
    add_custom_command(OUTPUT ${generated}/ja/ugi2sgf.1.gz
                       COMMAND ${CMAKE_COMMAND} -E make_directory ${generated}/ja
                       COMMAND ${QUILLARN_GZIP} -9n -c ${japanese_man} > ${generated}/ja/ugi2sgf.1.gz
                       DEPENDS ${japanese_man} COMMENT "Compressing the Japanese ugi2sgf.1")
    add_custom_target(compressed_japanese_man ALL DEPENDS ${generated}/ja/ugi2sgf.1.gz)
    set(japanese_man ${generated}/ja/ugi2sgf.1.gz)
  endif()
  install(FILES ${japanese_man} DESTINATION ${CMAKE_INSTALL_MANDIR}/ja/man1)
endif()

if(QUILLARN_WINDOW AND NOT WIN32)
  install(FILES ${generated}/quillarn.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/quillarn-mime.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME quillarn.xml)
  install(FILES ${generated}/${QUILLARN_APPSTREAM_ID}.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/quillarn-32.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps RENAME quillarn.png)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/quillarn.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()
if(QUILLARN_THUMBNAILER AND NOT WIN32)
  # File managers find the thumbnailer of a file type here (application/x-go-sgf is shared-mime-info's).
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/quillarn.thumbnailer DESTINATION ${CMAKE_INSTALL_DATADIR}/thumbnailers)
endif()
# What the READMEs link to goes beside them, so that every link of an installed README works.
set(linked_docs ${PROJECT_SOURCE_DIR}/docs/ugi-format.md ${PROJECT_SOURCE_DIR}/docs/windows.md
                ${PROJECT_SOURCE_DIR}/docs/screenshot.png
                ${PROJECT_SOURCE_DIR}/docs/screenshot-menu.png ${PROJECT_SOURCE_DIR}/docs/screenshot-web.png
                ${PROJECT_SOURCE_DIR}/docs/screenshot-windows.png ${PROJECT_SOURCE_DIR}/docs/screenshot-windows-menu.png)
if(WIN32)
  # The zip: the program with its READMEs and licence beside it.
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/README.ja.md ${PROJECT_SOURCE_DIR}/LICENSE
          DESTINATION .)
  install(FILES ${linked_docs} DESTINATION docs)
else()
  # Debian wants the licence in the copyright file only.
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/README.ja.md ${generated}/copyright
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quillarn)
  install(FILES ${linked_docs} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quillarn/docs)
  install(FILES ${installed_changelog} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quillarn RENAME changelog${gz})
endif()

set(CPACK_PACKAGE_NAME quillarn)
set(CPACK_PACKAGE_VENDOR "The Quillarn developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Go game record converter from UGI to SGF")
set(CPACK_PACKAGE_DESCRIPTION
    "Quillarn converts a record of a game of Go from the UGI text format, in which\n\
Japanese players keep their records, into an SGF record that every modern Go\n\
program reads. It has a small window with a Japanese interface (quillarn) and\n\
a command-line converter for whole archives (ugi2sgf). File managers show\n\
records as small boards through its thumbnailer (quillarn-thumbnailer).")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# A converter of game records, not a game: Debian's games section is for programs in /usr/games.
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${CPACK_PACKAGE_CONTACT})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window's Japanese texts need a Japanese font; Qt's own Japanese buttons come with its translations.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-ipafont-gothic | fonts-noto-cjk | fonts-vlgothic")
# libfile-mimeinfo-perl: xdg-mime outside a desktop session asks it, which reads the MIME type below,
# rather than file(1), which takes a record for an INI file.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, libfile-mimeinfo-perl")
# The Windows build (cmake/toolchain-mingw64.cmake) is a zip of quillarn.exe and ugi2sgf.exe, the
# READMEs and the licence: cpack -G ZIP makes quillarn-VERSION-win64.zip. Its target "installer"
# makes quillarn-setup-VERSION.exe with NSIS (packaging/windows/quillarn.nsi), of the same files.
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME quillarn-${PROJECT_VERSION}-win64)
  set(CPACK_STRIP_FILES TRUE)
  find_program(QUILLARN_MAKENSIS makensis)
  if(QUILLARN_WINDOW AND QUILLARN_MAKENSIS)
    set(stage ${PROJECT_BINARY_DIR}/installer)
    set(setup ${PROJECT_BINARY_DIR}/quillarn-setup-${PROJECT_VERSION}.exe)
    add_custom_command(
      OUTPUT ${setup}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${stage}
      COMMAND ${CMAKE_STRIP} -o ${stage}/quillarn.exe $<TARGET_FILE:quillarn>
      COMMAND ${CMAKE_STRIP} -o ${stage}/ugi2sgf.exe $<TARGET_FILE:ugi2sgf>
      COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/README.ja.md
              ${PROJECT_SOURCE_DIR}/LICENSE ${stage}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${stage}/docs
      COMMAND ${CMAKE_COMMAND} -E copy ${linked_docs} ${stage}/docs
      COMMAND ${QUILLARN_MAKENSIS} -V2 -DVERSION=${PROJECT_VERSION} -DBIN=${stage} -DSOURCE=${PROJECT_SOURCE_DIR}
              -DOUT=${setup} ${PROJECT_SOURCE_DIR}/packaging/windows/quillarn.nsi
      DEPENDS quillarn ugi2sgf ${PROJECT_SOURCE_DIR}/packaging/windows/quillarn.nsi
              ${PROJECT_SOURCE_DIR}/window/windows/quillarn.ico
      COMMENT "Making the installer (quillarn-setup-${PROJECT_VERSION}.exe)")
    add_custom_target(installer DEPENDS ${setup})
  endif()
endif()
include(CPack)
