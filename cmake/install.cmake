# Installation and packages.
#
# Linux:   cmake --install puts vrex and vrex-host in bin, the VREX module in
#          lib/vrex, the man page in share/man/man1 and README.md and the
#          licence (as copyright) in share/doc/vrex: the GNUInstallDirs
#          folders BINDIR, LIBDIR/vrex, MANDIR/man1 and DOCDIR;
#          cpack -G DEB makes vrex_<version>_<arch>.deb.
# Windows: vrex.exe, VREX.dll, vrex-host.exe, README.txt and LICENSE.txt side
#          by side; cpack -G ZIP makes vrex-<version>-win32.zip.
# scripts/package.sh makes both.
#
# Installing and packaging don't build: build the programs first. So cpack
# doesn't build the tests of a build folder either.
include(GNUInstallDirs)
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
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_VERBATIM_VARIABLES ON)

# vrex_windows_text(SOURCE TARGET): TARGET is SOURCE with CRLF line ends,
# written again whenever SOURCE changes.
function(vrex_windows_text source target)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  file(READ ${source} text)
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${target} "${text}")
endfunction()

if(WIN32)
  install(TARGETS vrex vrex-host RUNTIME DESTINATION .)
  install(TARGETS VREX RUNTIME DESTINATION . LIBRARY DESTINATION .)
  vrex_windows_text(${PROJECT_SOURCE_DIR}/docs/README-win32.txt ${CMAKE_BINARY_DIR}/README.txt)
  vrex_windows_text(${PROJECT_SOURCE_DIR}/LICENSE ${CMAKE_BINARY_DIR}/LICENSE.txt)
  install(FILES ${CMAKE_BINARY_DIR}/README.txt ${CMAKE_BINARY_DIR}/LICENSE.txt DESTINATION .)

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME vrex-${PROJECT_VERSION}-win32)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  # The module is loaded by path, never linked: its own folder below LIBDIR.
  set(VREX_INSTALL_MODULEDIR ${CMAKE_INSTALL_LIBDIR}/vrex)
  install(TARGETS vrex vrex-host RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(TARGETS VREX LIBRARY DESTINATION ${VREX_INSTALL_MODULEDIR})

  # The man page carries the version in its .TH line and the module's path
  # as the package installs it (under /usr); it is configured into the build
  # folder (again whenever docs/vrex.1.in changes) and installed compressed,
  # as Debian does.
  set(VREX_MAN_MODULE /usr/${VREX_INSTALL_MODULEDIR}/VREX.so)
  configure_file(${PROJECT_SOURCE_DIR}/docs/vrex.1.in ${CMAKE_BINARY_DIR}/vrex.1 @ONLY)
  find_program(VREX_GZIP gzip)
  if(NOT VREX_GZIP)
    message(FATAL_ERROR "gzip not found: it compresses the man page")
  endif()
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/vrex.1.gz
    COMMAND ${VREX_GZIP} -9 -n -c ${CMAKE_BINARY_DIR}/vrex.1 > ${CMAKE_BINARY_DIR}/vrex.1.gz
    DEPENDS ${CMAKE_BINARY_DIR}/vrex.1)
  add_custom_target(vrex_manpage ALL DEPENDS ${CMAKE_BINARY_DIR}/vrex.1.gz)
  install(FILES ${CMAKE_BINARY_DIR}/vrex.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  # Debian keeps a package's licence in /usr/share/doc/<package>/copyright.
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)

  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # What the binaries link: the C and C++ runtimes and zlib.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libgcc-s1 (>= 3.0), libstdc++6 (>= 5), zlib1g (>= 1:1.1.4)")
endif()

include(CPack)
