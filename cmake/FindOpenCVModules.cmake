# Debian ships OpenCV's CMake package file only with the whole libopencv-dev; the per-module -dev
# packages have headers and libraries alone. This finds the modules asked for as COMPONENTS and
# gives one imported target per module, OpenCV::<module>.
find_path(OpenCVModules_INCLUDE_DIR opencv2/core.hpp PATH_SUFFIXES opencv4)
set(OpenCVModules_LIBRARIES)
foreach(module ${OpenCVModules_FIND_COMPONENTS})
  find_library(OpenCVModules_${module}_LIBRARY opencv_${module})
  if(OpenCVModules_${module}_LIBRARY AND OpenCVModules_INCLUDE_DIR)
    set(OpenCVModules_${module}_FOUND TRUE)
    if(NOT TARGET OpenCV::${module})
      add_library(OpenCV::${module} UNKNOWN IMPORTED)
      set_target_properties(OpenCV::${module} PROPERTIES
        IMPORTED_LOCATION ${OpenCVModules_${module}_LIBRARY}
        INTERFACE_INCLUDE_DIRECTORIES ${OpenCVModules_INCLUDE_DIR})
    endif()
    list(APPEND OpenCVModules_LIBRARIES OpenCV::${module})
  endif()
endforeach()
include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(OpenCVModules REQUIRED_VARS OpenCVModules_INCLUDE_DIR HANDLE_COMPONENTS)
