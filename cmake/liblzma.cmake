# liblzma, the LZMA codec of "ZWS" movies: Debian's liblzma-dev natively;
# for the Windows builds a static library that tools/mingw-liblzma builds
# once from Debian's xz-utils source (kept under build/deps/).
if(WIN32 AND CMAKE_CROSSCOMPILING)
  include(${CMAKE_CURRENT_LIST_DIR}/mingw-library.cmake)
  # lzma.h declares its functions as DLL imports unless told otherwise.
  quillaro_mingw_library(LibLZMA::LibLZMA mingw-liblzma liblzma.a LZMA_API_STATIC)
else()
  find_package(LibLZMA REQUIRED)
endif()
