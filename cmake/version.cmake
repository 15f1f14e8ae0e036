# The version of a build, stamped when the build runs rather than when CMake configures it, so that
# it follows the commits made since:
#   cmake -DSOURCE_DIR=DIR -DOUTPUT_DIR=DIR -DPROJECT_VERSION=X.Y -P cmake/version.cmake
# The version is the project's (project(VERSION ...)), and where the sources are a git work tree of
# their own (SOURCE_DIR/.git is there), `git describe --always --dirty` besides. A build from a
# tarball has the project's version alone, even when unpacked inside some other git tree.
#
# Writes, each only when its content changes (so that an unchanged version rebuilds nothing):
#   OUTPUT_DIR/cartdump_version.h    CARTDUMP_VERSION_TEXT, "0.1" or "0.1 (git 1a2b3c4-dirty)"
#   OUTPUT_DIR/cartdump_version.txt  the packages' version: the same in a form that Debian
#                                    accepts, "0.1" or "0.1+git.1a2b3c4.dirty"
foreach(input SOURCE_DIR OUTPUT_DIR PROJECT_VERSION)
  if(NOT DEFINED ${input})
    message(FATAL_ERROR "version.cmake needs -D${input}=...")
  endif()
endforeach()

set(describe "")
find_program(CARTDUMP_GIT git)
if(CARTDUMP_GIT AND EXISTS "${SOURCE_DIR}/.git")
  # Without optional locks: describe --dirty would otherwise refresh the index, and two builds at
  # once would trip over each other's lock.
  execute_process(COMMAND "${CARTDUMP_GIT}" --no-optional-locks -C "${SOURCE_DIR}" describe --always --dirty
                  OUTPUT_VARIABLE describe RESULT_VARIABLE status OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(NOT status EQUAL 0)
    set(describe "")
  endif()
  # Whatever a tag is named, only these characters reach the program and the package.
  string(REGEX REPLACE "[^A-Za-z0-9._+~/-]" "_" describe "${describe}")
endif()

if(describe STREQUAL "")
  set(text "${PROJECT_VERSION}")
  set(package "${PROJECT_VERSION}")
else()
  set(text "${PROJECT_VERSION} (git ${describe})")
  # A Debian upstream version holds letters, digits and . + ~ alone.
  string(REGEX REPLACE "[^A-Za-z0-9.+~]" "." package_describe "${describe}")
  set(package "${PROJECT_VERSION}+git.${package_describe}")
endif()

function(write_if_changed path content)
  if(EXISTS "${path}")
    file(READ "${path}" old)
    if(old STREQUAL content)
      return()
    endif()
  endif()
  file(WRITE "${path}" "${content}")
endfunction()

file(MAKE_DIRECTORY "${OUTPUT_DIR}")
write_if_changed("${OUTPUT_DIR}/cartdump_version.h"
                 "// Written by cmake/version.cmake at build time.\n#pragma once\n#define CARTDUMP_VERSION_TEXT \"${text}\"\n")
write_if_changed("${OUTPUT_DIR}/cartdump_version.txt" "${package}\n")
