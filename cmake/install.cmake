# Installation and packages.
#
# Linux:   cmake --install puts vrex and vrex-host in bin, the VREX module in
#          lib/vrex and the man page in share/man/man1;
#          cpack -G DEB makes vrex_<version>_<arch>.deb.
# Windows: vrex.exe, VREX.dll, vrex-host.exe and README.txt side by side;
#          cpack -G ZIP makes vrex-<version>-win32.zip.
# scripts/package.sh makes both.
#
# Installing and packaging don't build: build the programs first. So cpack
# doesn't build the tests of a build folder either.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_PACKAGE_NAME vrex)
set(CPACK_PACKAGE_VENDOR "Vrex developers")
set(CPACK_PACKAGE_CONTACT "Vrex developers <vrex@example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "archiver for the resource archives of classic games")
set(CPACK_PACKAGE_DESCRIPTION
  "vrex lists, extracts, tests and deletes members of Quake PACK, Doom WAD, Quake and
Half-Life WAD, 3DO LOD, STK, Descent DMVL, Chasm BIN and directory files. The VREX
module lets a file manager's archive plug-in browse them; vrex-host drives it.")
set(CPACK_STRIP_FILES ON)
set(CPACK_VERBATIM_VARIABLES ON)

if(WIN32)
  install(TARGETS vrex RUNTIME DESTINATION .)
  if(TARGET vrex-host)
    install(TARGETS vrex-host RUNTIME DESTINATION .)
  endif()
  if(TARGET VREX)
    install(TARGETS VREX RUNTIME DESTINATION . LIBRARY DESTINATION .)
  endif()
  # The README with Windows line ends.
  file(READ ${PROJECT_SOURCE_DIR}/docs/README-win32.txt readme)
  string(REPLACE "\n" "\r\n" readme "${readme}")
  file(WRITE ${CMAKE_BINARY_DIR}/README.txt "${readme}")
  install(FILES ${CMAKE_BINARY_DIR}/README.txt DESTINATION .)

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME vrex-${PROJECT_VERSION}-win32)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  install(TARGETS vrex RUNTIME DESTINATION bin)
  if(TARGET vrex-host)
    install(TARGETS vrex-host RUNTIME DESTINATION bin)
  endif()
  if(TARGET VREX)
    install(TARGETS VREX LIBRARY DESTINATION lib/vrex)
  endif()
  # The man page carries the version in its .TH line; it is configured into
  # the build folder (again whenever docs/vrex.1.in changes) and installed
  # compressed, as Debian does.
  configure_file(${PROJECT_SOURCE_DIR}/docs/vrex.1.in ${CMAKE_BINARY_DIR}/vrex.1 @ONLY)
  find_program(VREX_GZIP gzip)
  set(manpage ${CMAKE_BINARY_DIR}/vrex.1)
  if(VREX_GZIP)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/vrex.1.gz
      COMMAND ${VREX_GZIP} -9 -n -c ${manpage} > ${CMAKE_BINARY_DIR}/vrex.1.gz
      DEPENDS ${manpage})
    add_custom_target(vrex_manpage ALL DEPENDS ${CMAKE_BINARY_DIR}/vrex.1.gz)
    set(manpage ${CMAKE_BINARY_DIR}/vrex.1.gz)
  endif()
  install(FILES ${manpage} DESTINATION share/man/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION share/doc/vrex)

  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # What the binaries link: the C and C++ runtimes and zlib.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libgcc-s1 (>= 3.0), libstdc++6 (>= 5), zlib1g (>= 1:1.1.4)")
endif()

include(CPack)
