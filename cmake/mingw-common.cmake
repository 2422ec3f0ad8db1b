# What both mingw-w64 toolchains share: libraries from the target's own
# root, linked statically, so the programs need no DLLs beside them.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# zlib too, not the import library of zlib1.dll.
set(ZLIB_USE_STATIC_LIBS ON)
