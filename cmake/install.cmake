# What an installation holds: bin/avistep, its manual page, and in share/doc/avistep the
# copyright and licence notice and the changelog. Everything else it needs at run time comes from
# the system's shared libraries, which the Debian package names as its dependencies.
include(GNUInstallDirs)
install(TARGETS avistep RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

if(NOT WIN32)
  set(CPACK_PACKAGE_CONTACT "avistep developers <avistep@localhost>")

  # The manual page (dated with its version's date in NEWS.md) and NEWS.md as a Debian
  # changelog, both gzipped reproducibly; the build stops if NEWS.md lacks this version.
  set(avistep_docs ${CMAKE_BINARY_DIR}/avistep.1 ${CMAKE_BINARY_DIR}/avistep.1.gz
      ${CMAKE_BINARY_DIR}/changelog.gz)
  add_custom_command(OUTPUT ${avistep_docs}
    COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_SOURCE_DIR} -DOUT_DIR=${CMAKE_BINARY_DIR}
            -DVERSION=${PROJECT_VERSION} "-DMAINTAINER=${CPACK_PACKAGE_CONTACT}"
            -P ${CMAKE_SOURCE_DIR}/cmake/package_docs.cmake
    DEPENDS ${CMAKE_SOURCE_DIR}/NEWS.md ${CMAKE_SOURCE_DIR}/docs/avistep.1.in
            ${CMAKE_SOURCE_DIR}/cmake/package_docs.cmake
    COMMENT "Manual page and changelog from docs/avistep.1.in and NEWS.md" VERBATIM)
  add_custom_target(avistep_docs ALL DEPENDS ${avistep_docs})
  install(FILES ${CMAKE_BINARY_DIR}/avistep.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${CMAKE_SOURCE_DIR}/cmake/debian/copyright ${CMAKE_BINARY_DIR}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
  # Only the Debian package carries what lintian is told about it.
  install(FILES ${CMAKE_SOURCE_DIR}/cmake/debian/lintian-overrides
          DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME avistep
          COMPONENT debian EXCLUDE_FROM_ALL)

  # `cpack -G DEB` (or the `package` target) in the build folder: avistep_<version>_<arch>.deb,
  # installed under /usr, its library dependencies worked out from the binary by dpkg-shlibdeps.
  # A native package (no Debian revision): its changelog is changelog.gz, made from NEWS.md.
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME avistep)
  set(CPACK_PACKAGE_VENDOR "avistep developers")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "AVI player that steps frame by frame with each frame's sound")
  # Debian wants the lines of the description within 80 columns.
  set(CPACK_PACKAGE_DESCRIPTION
      "avistep plays an AVI clip frame by frame so that you can inspect it:
every frame is decoded, drawn in a window named after it and accompanied
by its own 33 ms slice of the sound. A key in the terminal or small
Yes/No/Cancel dialogs switch to step mode, step forward, step back,
resume or quit.")
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION video)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The Japanese prompts and dialog texts need a font that has them.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-ipafont-gothic | fonts-noto-cjk")
  set(CPACK_STRIP_FILES ON)
  # Only what the install rules above name (no test programs, no benchmarks), the lintian
  # override too, all in the one package.
  set(CPACK_COMPONENTS_ALL Unspecified debian)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  # Two builds of one commit give the same bytes: file times from the last commit.
  set(CPACK_AVISTEP_SOURCE_DIR ${CMAKE_SOURCE_DIR})
  set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_SOURCE_DIR}/cmake/cpack_source_date.cmake)
  include(CPack)
endif()
