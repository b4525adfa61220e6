# Install rules for the files that app/ and cli/ do not install themselves, and the
# Debian package built from them with CPack (cpack -G DEB in the build folder).
include(GNUInstallDirs)

# The window's translations are compiled into it; tarnwick-cli loads the same .qm
# from share/tarnwick/translations, beside the window's lrelease output.
if(TARGET tarnwick_app_lib)
  file(GLOB TARNWICK_TS_FILES ${PROJECT_SOURCE_DIR}/resources/translations/tarnwick_*.ts)
  foreach(ts IN LISTS TARNWICK_TS_FILES)
    get_filename_component(ts_name ${ts} NAME_WE)
    install(FILES ${PROJECT_BINARY_DIR}/app/${ts_name}.qm
      DESTINATION ${CMAKE_INSTALL_DATADIR}/tarnwick/translations)
  endforeach()
endif()

# The .desktop file and the icons come with the window (app/CMakeLists.txt); the
# AppStream entry describes that window, so it is installed only with it.
if(TARGET tarnwick)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/metainfo/org.tarnwick.Tarnwick.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()

# Man pages are shipped compressed, as Debian expects.
find_program(TARNWICK_GZIP gzip)
set(TARNWICK_MAN_SOURCE ${PROJECT_SOURCE_DIR}/docs/tarnwick-cli.1)
if(TARNWICK_GZIP)
  set(TARNWICK_MAN_GZ ${PROJECT_BINARY_DIR}/docs/tarnwick-cli.1.gz)
  add_custom_command(OUTPUT ${TARNWICK_MAN_GZ}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/docs
    COMMAND ${TARNWICK_GZIP} -9nc ${TARNWICK_MAN_SOURCE} > ${TARNWICK_MAN_GZ}
    DEPENDS ${TARNWICK_MAN_SOURCE}
    VERBATIM)
  add_custom_target(tarnwick_man ALL DEPENDS ${TARNWICK_MAN_GZ})
  install(FILES ${TARNWICK_MAN_GZ} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  install(FILES ${TARNWICK_MAN_SOURCE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# README.md shows the screenshots by their relative path docs/screenshots/.
set(TARNWICK_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/tarnwick)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${TARNWICK_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/screenshots/
  DESTINATION ${TARNWICK_DOCDIR}/docs/screenshots
  FILES_MATCHING PATTERN "*.png")
install(DIRECTORY ${PROJECT_SOURCE_DIR}/resources/samples/Eudora
  DESTINATION ${CMAKE_INSTALL_DATADIR}/tarnwick/samples)

# Debian package: tarnwick_<version>_<arch>.deb. The library dependencies (Qt, ICU,
# libstdc++) are found by dpkg-shlibdeps from the installed binaries.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarnwick)
set(CPACK_PACKAGE_VENDOR "Tarnwick")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Tarnwick maintainers <maintainers@tarnwick.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "convert Eudora mailboxes into mbox files")
set(CPACK_PACKAGE_DESCRIPTION
"Tarnwick converts the mailbox files of the Eudora mail client into clean mbox
files that Thunderbird, Apple Mail and other mail programs can import. It
converts one mailbox or a whole folder tree, never overwrites a file, can
re-encode messages from legacy encodings such as Shift JIS or Mac Japanese,
removes Eudora's formatting tags, and adds missing Date headers.

The package holds the window (tarnwick), the command-line tool (tarnwick-cli)
and a small sample Eudora folder.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_NAME tarnwick)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The Japanese interface needs Qt's own texts too (dialog buttons, file choosers).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-translations-l10n")
# Open Destination and the README link go through xdg-open; without it the window
# shows the path to copy instead.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
include(CPack)
