# Installing and the Debian package: program, lattice writer, menu entry, icon,
# sample photo, manual pages, changelog and copyright.

# The lattice writer carries the name it is installed under, which the
# program's message about an unreadable original.png tells the user to run.
set_target_properties(make_lattice PROPERTIES OUTPUT_NAME tintsmith-make-lattice)
include(GNUInstallDirs)
install(TARGETS tintsmith make_lattice RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(NOT WIN32)
  set(TINTSMITH_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/tintsmith)
  # Debian keeps manual pages and the changelog compressed, without time stamps
  file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/packaging)
  foreach(file tintsmith.1 tintsmith-make-lattice.1 changelog)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
      ${CMAKE_CURRENT_LIST_DIR}/${file})
    execute_process(COMMAND gzip -9nc ${CMAKE_CURRENT_LIST_DIR}/${file}
      OUTPUT_FILE ${PROJECT_BINARY_DIR}/packaging/${file}.gz)
  endforeach()
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/tintsmith.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/tintsmith.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/tintsmith.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/48x48/apps)
  install(FILES ${PROJECT_SOURCE_DIR}/assets/cc.jpg DESTINATION ${CMAKE_INSTALL_DATADIR}/tintsmith)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/tintsmith.1.gz
    ${PROJECT_BINARY_DIR}/packaging/tintsmith-make-lattice.1.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${PROJECT_BINARY_DIR}/packaging/changelog.gz
    DESTINATION ${TINTSMITH_DOC_DIR})
endif()

set(CPACK_PACKAGE_NAME tintsmith)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tintsmith")
set(CPACK_PACKAGE_CONTACT "Tintsmith maintainers <tintsmith@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "colour-correction 3D LUTs from a photo of a colour chart")
set(CPACK_PACKAGE_DESCRIPTION "Tintsmith finds a colour-reference chart in a photo, measures\n\
every patch, fits a colour-correction model onto the chart's true colours\n\
and writes the correction as a 64-point .cube file and a PNG LUT image.\n\
On request it also corrects a whole folder of photos.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
