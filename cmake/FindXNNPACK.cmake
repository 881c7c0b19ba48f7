# Debian's XNNPACK comes with neither a CMake package file nor a pkg-config file: this finds its
# header and library (and the thread pool header it includes) and gives the target XNNPACK::XNNPACK.
find_path(XNNPACK_INCLUDE_DIR xnnpack.h)
find_path(XNNPACK_PTHREADPOOL_INCLUDE_DIR pthreadpool.h)
find_library(XNNPACK_LIBRARY XNNPACK)
include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(XNNPACK REQUIRED_VARS XNNPACK_LIBRARY XNNPACK_INCLUDE_DIR XNNPACK_PTHREADPOOL_INCLUDE_DIR)
if(XNNPACK_FOUND AND NOT TARGET XNNPACK::XNNPACK)
  add_library(XNNPACK::XNNPACK UNKNOWN IMPORTED)
  set_target_properties(XNNPACK::XNNPACK PROPERTIES
    IMPORTED_LOCATION ${XNNPACK_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES "${XNNPACK_INCLUDE_DIR};${XNNPACK_PTHREADPOOL_INCLUDE_DIR}")
endif()
