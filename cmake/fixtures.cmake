# Test fixtures that are Windows programs: built with the mingw-w64 C
# compiler in every configuration, the native one included, so that the
# tests of every build read the same player programs.
find_program(QUILLARO_MINGW_CC NAMES x86_64-w64-mingw32-gcc-posix x86_64-w64-mingw32-gcc REQUIRED)

# quillaro_player_fixture(<name> <source>): builds <name>.exe into the
# fixture folder from a C source of the tests.
function(quillaro_player_fixture name source)
  set(output ${QUILLARO_FIXTURE_DIR}/${name}.exe)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QUILLARO_FIXTURE_DIR}
    COMMAND ${QUILLARO_MINGW_CC} -Os -s -o ${output} ${source}
    DEPENDS ${source}
    COMMENT "Building test player ${name}.exe")
  set_property(GLOBAL APPEND PROPERTY QUILLARO_FIXTURES ${output})
endfunction()
