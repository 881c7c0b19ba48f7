# Debian's XNNPACK comes with neither a CMake package file nor a pkg-config file: this finds its
# header and library (and the thread pool header it includes) and gives the target XNNPACK::XNNPACK.
find_path(XNNPACK_INCLUDE_DIR xnnpack.h)
find_path(XNNPACK_PTHREADPOOL_INCLUDE_DIR pthreadpool.h)
find_library(XNNPACK_LIBRARY XNNPACK)
# Nor does the library say its version: a snapshot is named by the package that brought it.
execute_process(COMMAND dpkg-query -W "-f=\${Version}" libxnnpack-dev OUTPUT_VARIABLE XNNPACK_VERSION ERROR_QUIET)
if(NOT XNNPACK_VERSION)
  set(XNNPACK_VERSION unknown)
endif()
include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(XNNPACK REQUIRED_VARS XNNPACK_LIBRARY XNNPACK_INCLUDE_DIR XNNPACK_PTHREADPOOL_INCLUDE_DIR
                                  VERSION_VAR XNNPACK_VERSION)
if(XNNPACK_FOUND AND NOT TARGET XNNPACK::XNNPACK)
  add_library(XNNPACK::XNNPACK UNKNOWN IMPORTED)
  set_target_properties(XNNPACK::XNNPACK PROPERTIES
    IMPORTED_LOCATION ${XNNPACK_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES "${XNNPACK_INCLUDE_DIR};${XNNPACK_PTHREADPOOL_INCLUDE_DIR}")
endif()
