# The libraries beside the standard one, as targets the project links:
#   cartdump_gcrypt  libgcrypt (and libgpg-error), for the image hashes of rom/;
#   cartdump_cli11   CLI11, header-only, for n64dump's options;
#   cartdump_json    nlohmann-json, header-only, for n64dump's JSON report.
#
# Native builds take them from the system: pkg-config for libgcrypt, the CMake package files for
# the two header-only ones. The MinGW cross build takes libgcrypt and libgpg-error from the
# MinGW root (Debian's libgcrypt-mingw-w64-dev), linked statically so that the programs need no
# DLL beyond Windows' own; and the two header-only libraries from the host's /usr/include, through
# a directory of the build holding links to their two header trees alone, so that no other host
# header (the C library's) comes into the MinGW include path.

if(CMAKE_CROSSCOMPILING AND WIN32)
  find_path(CARTDUMP_GCRYPT_INCLUDE gcrypt.h REQUIRED)
  find_library(CARTDUMP_GCRYPT_STATIC NAMES libgcrypt.a REQUIRED)
  find_library(CARTDUMP_GPG_ERROR_STATIC NAMES libgpg-error.a REQUIRED)
  add_library(cartdump_gcrypt INTERFACE)
  target_include_directories(cartdump_gcrypt SYSTEM INTERFACE ${CARTDUMP_GCRYPT_INCLUDE})
  # libgpg-error's own private dependency: Winsock.
  target_link_libraries(cartdump_gcrypt INTERFACE ${CARTDUMP_GCRYPT_STATIC} ${CARTDUMP_GPG_ERROR_STATIC} ws2_32)

  set(CARTDUMP_HOST_INCLUDE /usr/include CACHE PATH "Where the host keeps CLI11's and nlohmann-json's headers")
  set(header_only_dir ${CMAKE_BINARY_DIR}/header_only)
  file(MAKE_DIRECTORY ${header_only_dir})
  foreach(tree CLI nlohmann)
    if(NOT EXISTS ${CARTDUMP_HOST_INCLUDE}/${tree})
      message(FATAL_ERROR "No ${CARTDUMP_HOST_INCLUDE}/${tree}: install libcli11-dev and nlohmann-json3-dev")
    endif()
    file(CREATE_LINK ${CARTDUMP_HOST_INCLUDE}/${tree} ${header_only_dir}/${tree} SYMBOLIC)
  endforeach()
  add_library(cartdump_cli11 INTERFACE)
  target_include_directories(cartdump_cli11 SYSTEM INTERFACE ${header_only_dir})
  add_library(cartdump_json INTERFACE)
  target_include_directories(cartdump_json SYSTEM INTERFACE ${header_only_dir})
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(GCRYPT REQUIRED IMPORTED_TARGET libgcrypt)
  add_library(cartdump_gcrypt INTERFACE)
  target_link_libraries(cartdump_gcrypt INTERFACE PkgConfig::GCRYPT)

  find_package(CLI11 REQUIRED CONFIG)
  add_library(cartdump_cli11 INTERFACE)
  target_link_libraries(cartdump_cli11 INTERFACE CLI11::CLI11)
  find_package(nlohmann_json REQUIRED CONFIG)
  add_library(cartdump_json INTERFACE)
  target_link_libraries(cartdump_json INTERFACE nlohmann_json::nlohmann_json)
endif()
