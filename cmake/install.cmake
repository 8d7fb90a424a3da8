# What an installation holds: bin/avistep and its manual page. Everything else it needs at run time
# comes from the system's shared libraries, which the Debian package names as its dependencies.
include(GNUInstallDirs)
install(TARGETS avistep RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

if(NOT WIN32)
  # The page carries the version and date of this build in its title line.
  string(TIMESTAMP avistep_man_date "%Y-%m-%d" UTC)
  configure_file(${CMAKE_SOURCE_DIR}/docs/avistep.1.in ${CMAKE_BINARY_DIR}/avistep.1 @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/avistep.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

  # `cpack -G DEB` (or the `package` target) in the build folder: avistep_<version>_<arch>.deb,
  # installed under /usr, its library dependencies worked out from the binary by dpkg-shlibdeps.
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME avistep)
  set(CPACK_PACKAGE_VENDOR "avistep developers")
  set(CPACK_PACKAGE_CONTACT "avistep developers <avistep@localhost>")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "AVI player that steps frame by frame with each frame's sound")
  set(CPACK_PACKAGE_DESCRIPTION
      "avistep plays an AVI clip frame by frame so that you can inspect it: every frame is decoded,
drawn in a window named after it and accompanied by its own 33 ms slice of the sound. A key in
the terminal or small Yes/No/Cancel dialogs switch to step mode, step forward, step back,
resume or quit.")
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION video)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The Japanese prompts and dialog texts need a font that has them.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-ipafont-gothic | fonts-noto-cjk")
  set(CPACK_STRIP_FILES ON)
  # Only what the install rules above name: no test programs, no benchmarks.
  set(CPACK_COMPONENTS_ALL Unspecified)
  include(CPack)
endif()
