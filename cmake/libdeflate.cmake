# libdeflate, the whole-buffer deflate of "CWS" movies: Debian's
# libdeflate-dev natively; for the Windows builds a static library that
# tools/mingw-libdeflate builds once from Debian's libdeflate source (kept
# under build/deps/).
if(WIN32 AND CMAKE_CROSSCOMPILING)
  include(${CMAKE_CURRENT_LIST_DIR}/mingw-library.cmake)
  quillaro_mingw_library(Libdeflate::Libdeflate mingw-libdeflate libdeflate.a)
else()
  # Debian ships no CMake package file for it.
  find_path(LIBDEFLATE_INCLUDE_DIR libdeflate.h REQUIRED)
  find_library(LIBDEFLATE_LIBRARY deflate REQUIRED)
  add_library(Libdeflate::Libdeflate UNKNOWN IMPORTED)
  set_target_properties(Libdeflate::Libdeflate PROPERTIES
    IMPORTED_LOCATION ${LIBDEFLATE_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${LIBDEFLATE_INCLUDE_DIR})
endif()
