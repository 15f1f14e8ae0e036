# Installation and packages.
#
# cmake --install puts n64dump, testrom and (where libfuse3 is there to build it) cartsim in bin/,
# the README and the licence in share/doc/cartdump, and on Linux the reader's udev rule
# (packaging/70-cartdump.rules) in lib/udev/rules.d. The Windows build installs flat, programs and
# texts side by side, as its ZIP holds them.
#
# cpack makes the platform's package from that: a Debian package (cpack -G DEB), whose
# dependencies dpkg-shlibdeps reads off the programs (the hidapi hidraw library, libfuse3,
# libgcrypt, the C and C++ runtimes), with mupen64plus-data suggested for the cartridge catalogue;
# and from the MinGW cross build a ZIP (cpack -G ZIP). Both carry the version the build stamped
# (cmake/version.cmake), read by cpack when it packages (cmake/cpack_version.cmake).
if(WIN32)
  set(CARTDUMP_INSTALL_BIN .)
  set(CARTDUMP_INSTALL_DOC .)
else()
  include(GNUInstallDirs)
  set(CARTDUMP_INSTALL_BIN ${CMAKE_INSTALL_BINDIR})
  set(CARTDUMP_INSTALL_DOC ${CMAKE_INSTALL_DATAROOTDIR}/doc/cartdump)
endif()

install(TARGETS n64dump testrom RUNTIME DESTINATION ${CARTDUMP_INSTALL_BIN})
if(TARGET cartsim)
  install(TARGETS cartsim RUNTIME DESTINATION ${CARTDUMP_INSTALL_BIN})
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CARTDUMP_INSTALL_DOC})
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/70-cartdump.rules DESTINATION lib/udev/rules.d)
endif()

set(CPACK_PACKAGE_NAME cartdump)
set(CPACK_PACKAGE_VENDOR "the cartdump developers")
set(CPACK_PACKAGE_CONTACT "the cartdump developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Dumps Nintendo 64 cartridges through a USB cartridge reader")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB)
endif()

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The long description; the summary above is its first line.
string(JOIN "\n" CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "n64dump finds the reader (as a HID device or as its removable drive), reads the"
  "cartridge's ROM to a file and reports on the image: header, boot-code checksum,"
  "hashes and what the cartridge catalogue knows of it. With the device model cartsim"
  "and the test cartridge writer testrom. A udev rule gives the logged-in user the"
  "reader's HID interface.")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS mupen64plus-data)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# Read by cpack, with the version file the build writes.
set(CPACK_CARTDUMP_VERSION_FILE ${CARTDUMP_VERSION_DIR}/cartdump_version.txt)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/cpack_version.cmake)

include(CPack)
