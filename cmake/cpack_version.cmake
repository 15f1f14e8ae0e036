# Read by cpack as it makes each package (CPACK_PROJECT_CONFIG_FILE): the packages take the version
# that the last build stamped (cmake/version.cmake), which follows the commits made after CMake
# configured the build directory.
if(NOT EXISTS "${CPACK_CARTDUMP_VERSION_FILE}")
  message(FATAL_ERROR "No ${CPACK_CARTDUMP_VERSION_FILE}: build the project before packaging it")
endif()
file(STRINGS "${CPACK_CARTDUMP_VERSION_FILE}" cartdump_version LIMIT_COUNT 1)
set(CPACK_PACKAGE_VERSION "${cartdump_version}")
set(CPACK_DEBIAN_PACKAGE_VERSION "${cartdump_version}")
set(CPACK_PACKAGE_FILE_NAME "cartdump-${cartdump_version}-${CPACK_SYSTEM_NAME}")
