# libdeflate, the whole-buffer deflate of "CWS" movies: Debian's
# libdeflate-dev natively; for the Windows builds a static library that
# tools/mingw-libdeflate builds once from Debian's libdeflate source (kept
# under build/deps/).
if(WIN32 AND CMAKE_CROSSCOMPILING)
  set(triplet ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)
  execute_process(COMMAND bash ${PROJECT_SOURCE_DIR}/tools/mingw-libdeflate ${triplet}
    OUTPUT_VARIABLE prefix OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "tools/mingw-libdeflate ${triplet} failed")
  endif()
  add_library(Libdeflate::Libdeflate STATIC IMPORTED)
  set_target_properties(Libdeflate::Libdeflate PROPERTIES
    IMPORTED_LOCATION ${prefix}/lib/libdeflate.a
    INTERFACE_INCLUDE_DIRECTORIES ${prefix}/include)
else()
  # Debian ships no CMake package file for it.
  find_path(LIBDEFLATE_INCLUDE_DIR libdeflate.h REQUIRED)
  find_library(LIBDEFLATE_LIBRARY deflate REQUIRED)
  add_library(Libdeflate::Libdeflate UNKNOWN IMPORTED)
  set_target_properties(Libdeflate::Libdeflate PROPERTIES
    IMPORTED_LOCATION ${LIBDEFLATE_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${LIBDEFLATE_INCLUDE_DIR})
endif()
