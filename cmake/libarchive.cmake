# libarchive, the reader of collections (zip, 7z, rar, tar, ISO 9660, CAB,
# WARC): Debian's libarchive-dev natively; for the Windows builds a static
# library that tools/mingw-libarchive builds once from Debian's libarchive
# source, with zlib, bzip2 and the project's liblzma (kept under build/deps/).
# Include after liblzma.cmake.
if(WIN32 AND CMAKE_CROSSCOMPILING)
  set(triplet ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)
  execute_process(COMMAND bash ${PROJECT_SOURCE_DIR}/tools/mingw-libarchive ${triplet}
    OUTPUT_VARIABLE prefix OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "tools/mingw-libarchive ${triplet} failed")
  endif()
  add_library(LibArchive::LibArchive STATIC IMPORTED)
  set_target_properties(LibArchive::LibArchive PROPERTIES
    IMPORTED_LOCATION ${prefix}/lib/libarchive.a
    INTERFACE_INCLUDE_DIRECTORIES ${prefix}/include
    # archive.h declares its functions as DLL imports unless told otherwise.
    INTERFACE_COMPILE_DEFINITIONS LIBARCHIVE_STATIC
    INTERFACE_LINK_LIBRARIES "${prefix}/lib/libbz2.a;LibLZMA::LibLZMA;ZLIB::ZLIB;bcrypt")
else()
  find_package(LibArchive REQUIRED)
endif()
