# Test fixtures that are Windows programs: built with the mingw-w64 C
# compiler in every configuration, the native one included, so that the
# tests of every build read the same player programs.
find_program(QUILLARO_MINGW_CC NAMES x86_64-w64-mingw32-gcc-posix x86_64-w64-mingw32-gcc REQUIRED)
find_program(QUILLARO_MINGW_WINDRES NAMES x86_64-w64-mingw32-windres REQUIRED)
# The real players are 32-bit programs: some fixtures are too.
find_program(QUILLARO_MINGW32_CC NAMES i686-w64-mingw32-gcc-posix i686-w64-mingw32-gcc REQUIRED)
find_program(QUILLARO_MINGW32_WINDRES NAMES i686-w64-mingw32-windres REQUIRED)

# quillaro_player_fixture(<name> <source> [RESOURCES <script>] [PE32]):
# builds <name>.exe into the fixture folder from a C source of the tests,
# with the resources of a resource script when one is given, as a 64-bit
# program or, with PE32, a 32-bit one.
function(quillaro_player_fixture name source)
  cmake_parse_arguments(PARSE_ARGV 2 fixture "PE32" "RESOURCES" "")
  set(compiler ${QUILLARO_MINGW_CC})
  set(windres ${QUILLARO_MINGW_WINDRES})
  if(fixture_PE32)
    set(compiler ${QUILLARO_MINGW32_CC})
    set(windres ${QUILLARO_MINGW32_WINDRES})
  endif()
  set(output ${QUILLARO_FIXTURE_DIR}/${name}.exe)
  set(resource_commands "")
  set(resource_object "")
  if(fixture_RESOURCES)
    set(resource_object ${CMAKE_CURRENT_BINARY_DIR}/fixture-resources/${name}.o)
    set(resource_commands
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/fixture-resources
      COMMAND ${windres} -O coff -i ${fixture_RESOURCES} -o ${resource_object})
  endif()
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QUILLARO_FIXTURE_DIR}
    ${resource_commands}
    COMMAND ${compiler} -Os -s -o ${output} ${source} ${resource_object}
    DEPENDS ${source} ${fixture_RESOURCES}
    COMMENT "Building test player ${name}.exe")
  set_property(GLOBAL APPEND PROPERTY QUILLARO_FIXTURES ${output})
endfunction()

# Linux player programs, built with the host's C compiler in every
# configuration: a static program without the C library needs neither the
# 32-bit libraries nor their start files, so -m32 works on any x86-64 host.
find_program(QUILLARO_HOST_CC NAMES gcc cc REQUIRED)

# quillaro_elf_fixture(<name> <source> <flag>): builds <name> (no
# extension) into the fixture folder, with -m32 or -m64.
function(quillaro_elf_fixture name source flag)
  set(output ${QUILLARO_FIXTURE_DIR}/${name})
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QUILLARO_FIXTURE_DIR}
    COMMAND ${QUILLARO_HOST_CC} ${flag} -Os -s -static -nostdlib -ffreestanding -fno-pie -no-pie
      -o ${output} ${source}
    DEPENDS ${source}
    COMMENT "Building test player ${name}")
  set_property(GLOBAL APPEND PROPERTY QUILLARO_FIXTURES ${output})
endfunction()
