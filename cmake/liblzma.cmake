# liblzma, the LZMA codec of "ZWS" movies: Debian's liblzma-dev natively;
# for the Windows builds a static library that tools/mingw-liblzma builds
# once from Debian's xz-utils source (kept under build/deps/).
if(WIN32 AND CMAKE_CROSSCOMPILING)
  set(triplet ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)
  execute_process(COMMAND bash ${PROJECT_SOURCE_DIR}/tools/mingw-liblzma ${triplet}
    OUTPUT_VARIABLE prefix OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "tools/mingw-liblzma ${triplet} failed")
  endif()
  add_library(LibLZMA::LibLZMA STATIC IMPORTED)
  set_target_properties(LibLZMA::LibLZMA PROPERTIES
    IMPORTED_LOCATION ${prefix}/lib/liblzma.a
    INTERFACE_INCLUDE_DIRECTORIES ${prefix}/include
    # lzma.h declares its functions as DLL imports unless told otherwise.
    INTERFACE_COMPILE_DEFINITIONS LZMA_API_STATIC)
else()
  find_package(LibLZMA REQUIRED)
endif()
