# quillaro_mingw_library(<target> <script> <archive> [<definition>...]):
# for the Windows builds, the static library <archive> (under lib/ of the
# prefix that tools/<script> prints, once it has built it from Debian's own
# source package into build/deps/) as the imported target <target>, with
# include/ of that prefix and the compile definitions given.
function(quillaro_mingw_library target script archive)
  set(triplet ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)
  execute_process(COMMAND bash ${PROJECT_SOURCE_DIR}/tools/${script} ${triplet}
    OUTPUT_VARIABLE prefix OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "tools/${script} ${triplet} failed")
  endif()
  add_library(${target} STATIC IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES
    IMPORTED_LOCATION ${prefix}/lib/${archive}
    INTERFACE_INCLUDE_DIRECTORIES ${prefix}/include
    INTERFACE_COMPILE_DEFINITIONS "${ARGN}")
endfunction()
